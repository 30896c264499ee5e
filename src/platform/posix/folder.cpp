// Directory search on Linux: wildcard patterns matched against readdir's names, ASCII case ignored.
#include <dirent.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"

namespace {

// A search holds the open directory and its pattern; entries are read only as names are asked
// for, so a huge folder costs no more than the matches the caller takes.
struct search_state {
    DIR *dir;
    std::string pattern;
};

// Longest name a track-list entry can hold; longer names are passed over rather than cut,
// since a cut name would name another file or none.
constexpr std::size_t longest_name = 255;

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// '*' matches any run of bytes, '?' any one byte; other bytes match themselves, with ASCII
// letters compared without case. Bytes above 0x7f compare exactly, whatever the locale.
bool wildcard_match(const char *pattern, const char *name) {
    const char *star = nullptr;
    const char *resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern != '\0' &&
                   (*pattern == '?' || ascii_lower(*pattern) == ascii_lower(*name))) {
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
    return *pattern == '\0';
}

bool read_match(search_state *search, plat::find_data *found) {
    while (const dirent *entry = readdir(search->dir)) {
        std::size_t length = std::strlen(entry->d_name);
        if (length > longest_name || !wildcard_match(search->pattern.c_str(), entry->d_name)) {
            continue;
        }
        std::memcpy(found->cFileName, entry->d_name, length + 1);
        return true;
    }
    return false;
}

} // namespace

namespace plat {

find_handle find_first(const char *pattern, find_data *found) {
    DIR *dir = opendir(".");
    if (dir == nullptr) {
        return nullptr;
    }
    auto *search = new (std::nothrow) search_state{dir, pattern};
    if (search == nullptr) {
        closedir(dir);
        return nullptr;
    }
    if (!read_match(search, found)) {
        find_close(search);
        return nullptr;
    }
    return search;
}

bool find_next(find_handle search, find_data *found) {
    return search != nullptr && read_match(static_cast<search_state *>(search), found);
}

void find_close(find_handle search) {
    auto *state = static_cast<search_state *>(search);
    if (state == nullptr) {
        return;
    }
    closedir(state->dir);
    delete state;
}

} // namespace plat
