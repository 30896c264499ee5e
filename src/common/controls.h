// Control bytes masked, so that a file name or a path printed can never drive the terminal.
#pragma once

#include <cstddef>

// Copies count bytes of text into shown with control bytes (C0 and DEL) as '?'.
inline void mask_controls(const char *text, std::size_t count, char *shown) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        shown[i] = (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    }
}
