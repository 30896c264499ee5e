// ASCII letter case, folded alike in every locale, as Windows folds it in names and device types.
#pragma once

namespace ascii {

inline unsigned char upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Whether a and b are the same text but for ASCII letter case.
inline bool same_text(const char *a, const char *b) {
    for (; *a != '\0' && upper(*a) == upper(*b); ++a, ++b) {
    }
    return upper(*a) == upper(*b);
}

} // namespace ascii
