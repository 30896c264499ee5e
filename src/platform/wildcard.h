// Wildcard patterns as the folder searches take them, the same on every platform: one pattern or
// a list of them separated by ';', as Windows' PathMatchSpec takes.
#pragma once

#include "common/ascii.h"

namespace plat {

// Whether name matches the pattern that starts at pattern and ends at the next ';' or the end.
// '*' matches any run of bytes, '?' any one byte; other bytes match themselves, with ASCII
// letters compared without case. Bytes above 0x7f compare exactly, whatever the locale.
inline bool wildcard_match(const char *pattern, const char *name) {
    const auto ends = [](const char *p) { return *p == '\0' || *p == ';'; };
    const char *star = nullptr;
    const char *resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (!ends(pattern) &&
                   (*pattern == '?' || ascii::upper(*pattern) == ascii::upper(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return ends(pattern);
}

// Whether name matches any pattern of the list.
inline bool wildcard_match_any(const char *patterns, const char *name) {
    for (const char *p = patterns;; ++p) {
        if (wildcard_match(p, name)) {
            return true;
        }
        while (*p != '\0' && *p != ';') {
            ++p;
        }
        if (*p == '\0') {
            return false;
        }
    }
}

} // namespace plat
