// Directory search on Linux: wildcard patterns matched against readdir's names, in name order.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common/ascii.h"
#include "platform/platform.h"
#include "platform/wildcard.h"

namespace {

// Longest name a track-list entry can hold; longer names are passed over rather than cut,
// since a cut name would name another file or none.
constexpr std::size_t longest_name = 255;

struct kept_name {
    char text[longest_name + 1];
};

// readdir gives names in the order of the directory's hash, which shuffles an album. A Windows
// volume gives them in its own name order, so the search reads the whole folder and hands them
// out sorted; it keeps only the names the caller can take, so a huge folder costs no memory.
struct search_state {
    std::vector<kept_name> names; // a heap, greatest name first, until the folder is read
    std::size_t next = 0;
};

using ascii::upper;

// The order of an NTFS index: bytes compared unsigned with ASCII letters upper-cased, which for
// UTF-8 is code point order. Linux can hold names that differ only in case; their own bytes
// then decide, so the order never depends on how the directory was read.
bool name_before(const char *a, const char *b) {
    const auto *x = reinterpret_cast<const unsigned char *>(a);
    const auto *y = reinterpret_cast<const unsigned char *>(b);
    for (; *x != 0 && upper(*x) == upper(*y); ++x, ++y) {
    }
    if (upper(*x) != upper(*y)) {
        return upper(*x) < upper(*y);
    }
    return std::strcmp(a, b) < 0;
}

bool kept_before(const kept_name &a, const kept_name &b) {
    return name_before(a.text, b.text);
}

// Reads every name of the folder that matches one of the patterns, keeping the `most` first in name
// order: a name is copied only when it belongs among them, over the greatest of those kept so far.
void read_folder(DIR *dir, const char *pattern, std::size_t most, search_state &search) {
    std::vector<kept_name> &heap = search.names;
    heap.reserve(most);
    while (const dirent *entry = readdir(dir)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length > longest_name || !plat::wildcard_match_any(pattern, entry->d_name)) {
            continue;
        }
        if (heap.size() < most) {
            heap.emplace_back();
        } else if (!heap.empty() && name_before(entry->d_name, heap.front().text)) {
            std::pop_heap(heap.begin(), heap.end(), kept_before);
        } else {
            continue;
        }
        std::memcpy(heap.back().text, entry->d_name, length + 1);
        std::push_heap(heap.begin(), heap.end(), kept_before);
    }
    std::sort_heap(heap.begin(), heap.end(), kept_before);
}

} // namespace

namespace plat {

bool enter_folder(const char *path, char *reason, std::size_t size) {
    // A folder that can be entered but not listed would only play as an empty one.
    DIR *dir = nullptr;
    if (chdir(path) != 0 || (dir = opendir(".")) == nullptr) {
        std::snprintf(reason, size, "%s", std::strerror(errno));
        return false;
    }
    closedir(dir);
    return true;
}

find_handle find_first(const char *pattern, find_data *found, std::size_t most) {
    DIR *dir = opendir(".");
    if (dir == nullptr) {
        return nullptr;
    }
    auto *search = new (std::nothrow) search_state;
    if (search != nullptr) {
        try {
            read_folder(dir, pattern, most, *search);
        } catch (const std::bad_alloc &) {
            search->names.clear();
        }
    }
    closedir(dir);
    if (search == nullptr || !find_next(search, found)) {
        delete search;
        return nullptr;
    }
    return search;
}

bool find_next(find_handle search, find_data *found) {
    auto *state = static_cast<search_state *>(search);
    if (state == nullptr || state->next == state->names.size()) {
        return false;
    }
    const kept_name &name = state->names[state->next++];
    std::memcpy(found->cFileName, name.text, std::strlen(name.text) + 1);
    return true;
}

void find_close(find_handle search) {
    delete static_cast<search_state *>(search);
}

} // namespace plat
