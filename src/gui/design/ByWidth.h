#pragma once

#include <array>
#include <optional>

// What a text came to at the last few widths a layout asked for: a layout
// pass asks a few widths many times, and each answer lays the whole text out.
template <typename T> class ByWidth {
public:
    // The value at `width`, made by `make(width)` when it is not kept.
    template <typename Make> const T& at(int width, Make make)
    {
        for (const std::optional<Entry>& e : m_entries) {
            if (e && e->width == width)
                return e->value;
        }
        std::optional<Entry>& slot = m_entries[m_next];
        m_next = (m_next + 1) % int(m_entries.size());
        slot = Entry { width, make(width) };
        return slot->value;
    }

    void clear() { m_entries.fill(std::nullopt); }

private:
    struct Entry {
        int width;
        T value;
    };
    std::array<std::optional<Entry>, 4> m_entries {};
    int m_next = 0;
};
