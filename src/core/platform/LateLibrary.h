#pragma once

// A shared library opened when one of its functions is first needed rather
// than when the application starts: the libraries only a sheet or the key
// store use (and the libraries under them) would otherwise be loaded before
// the window's first frame. Made where the first need is, typically in a
// function-local static that keeps the resolved functions; the library is
// never closed.
class LateLibrary {
public:
    explicit LateLibrary(const char* soname);

    // The function, or null when the library or the symbol cannot be found.
    template <typename F> F resolve(const char* symbol) const { return reinterpret_cast<F>(address(symbol)); }

    // Lets tests make a library count as missing; only libraries opened later are affected.
    static void setMissingForTesting(const char* soname);

private:
    void* address(const char* symbol) const;

    void* m_handle;
};
