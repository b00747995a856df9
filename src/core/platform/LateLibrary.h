#pragma once

#include <mutex>

// A shared library opened the first time one of its functions is needed
// rather than when the application starts: the libraries that only a sheet or
// the key store use (and the libraries under them) would otherwise be loaded
// before the window's first frame. Safe to use from any thread; the library
// is never closed.
class LateLibrary {
public:
    explicit LateLibrary(const char* soname)
        : m_soname(soname)
    {
    }

    // The function, or null when the library or the symbol cannot be found.
    template <typename F> F resolve(const char* symbol) { return reinterpret_cast<F>(address(symbol)); }

private:
    void* address(const char* symbol);

    const char* m_soname;
    std::once_flag m_once;
    void* m_handle = nullptr;
};
