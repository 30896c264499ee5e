// The directory search over 10,000 files: the scan takes the first 50 wave names the directory
// gives and reads no further; readdir and closedir are wrapped at link time to count what is read.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <iterator>

#include "player/player.h"
#include "support.h"

extern "C" {
dirent *__real_readdir(DIR *);
int __real_closedir(DIR *);
}

namespace {
long entries_read = 0;
int streams_closed = 0;
} // namespace

extern "C" {
dirent *__wrap_readdir(DIR *dir) {
    dirent *entry = __real_readdir(dir);
    entries_read += entry != nullptr ? 1 : 0;
    return entry;
}

int __wrap_closedir(DIR *dir) {
    ++streams_closed;
    return __real_closedir(dir);
}
}

namespace {

TEST(FolderScale, ScanTakesTheFirstFiftyAndReadsNoFurther) {
    support::temp_folder folder;
    // Wave names in assorted letter cases among near misses.
    const char *waves[] = {".wav", ".WAV", ".Wav"};
    const char *others[] = {".txt", ".wav.bak", ".wavx", ".mp3", "wav"};
    for (int i = 0; i < 5000; ++i) {
        support::write_bytes(folder / ("t" + std::to_string(i) + waves[i % 3]), "");
        support::write_bytes(folder / ("o" + std::to_string(i) + others[i % 5]), "");
    }
    // The directory's own order, read past the wrapper.
    std::vector<std::string> expected;
    long needed = 0;
    DIR *dir = opendir(folder.path().c_str());
    while (const dirent *entry = __real_readdir(dir)) {
        const std::string name = entry->d_name;
        if (expected.size() < 50) {
            ++needed;
            if (name[0] == 't') {
                expected.push_back(name);
            }
        }
    }
    __real_closedir(dir);

    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    entries_read = 0;
    streams_closed = 0;
    static track_list list;
    scan_tracks(list);
    ASSERT_EQ(chdir(here), 0);

    EXPECT_EQ(std::vector<std::string>(std::begin(list), std::end(list)), expected);
    EXPECT_EQ(entries_read, needed) << "entries read of 10,002";
    EXPECT_EQ(streams_closed, 1) << "the search is closed once the list is full";
}

} // namespace
