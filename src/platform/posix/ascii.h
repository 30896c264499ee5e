// ASCII letter case, folded alike in every locale, as Windows folds it in names and device types.
#pragma once

namespace posix {

inline unsigned char ascii_upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Whether a and b are the same text but for ASCII letter case.
inline bool same_ascii_text(const char *a, const char *b) {
    for (; *a != '\0' && ascii_upper(*a) == ascii_upper(*b); ++a, ++b) {
    }
    return ascii_upper(*a) == ascii_upper(*b);
}

} // namespace posix
