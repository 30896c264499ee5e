// Folder scale: 10,000 files, 5,000 of them wave files, and a scan that stops at the 50th.
// The scan must list the first 50 the directory gives and read it no further; readdir is wrapped
// at link time to count what is read.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "player/player.h"
#include "player_run.h"

extern "C" {
dirent *__real_readdir(DIR *);
int __real_closedir(DIR *);
}

namespace {

std::atomic<long> entries_read{0};
std::atomic<int> streams_closed{0};

} // namespace

extern "C" {
dirent *__wrap_readdir(DIR *dir) {
    dirent *entry = __real_readdir(dir);
    if (entry)
        ++entries_read;
    return entry;
}

int __wrap_closedir(DIR *dir) {
    ++streams_closed;
    return __real_closedir(dir);
}
}

namespace {

using namespace e2e;

bool is_wave_name(const std::string &name) {
    if (name.size() < 4 || name.size() > 255)
        return false;
    std::string tail = name.substr(name.size() - 4);
    for (char &c : tail)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".wav";
}

class FolderScale : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new temp_folder;
        // Wave and other names alternate, in assorted letter cases and near misses.
        const char *others[] = {".txt", ".wav.bak", ".wavx", ".mp3", "wav"};
        const char *waves[] = {".wav", ".WAV", ".Wav"};
        for (int i = 0; i < 5000; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "t%04d%s", i, waves[i % 3]);
            write_bytes(*folder / name, "");
            std::snprintf(name, sizeof name, "o%04d%s", i, others[i % 5]);
            write_bytes(*folder / name, "");
        }
        // The directory's own order, read past the wrapper: every entry, "." and ".." included.
        DIR *dir = opendir(folder->path().c_str());
        while (const dirent *entry = __real_readdir(dir))
            order.emplace_back(entry->d_name);
        __real_closedir(dir);
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }

    // The first 50 wave names in directory order, and how many entries it takes to reach them.
    static std::vector<std::string> first_waves(std::size_t *entries_needed) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < order.size() && names.size() < 50; ++i) {
            if (is_wave_name(order[i])) {
                names.push_back(order[i]);
                *entries_needed = i + 1;
            }
        }
        return names;
    }

    static temp_folder *folder;
    static std::vector<std::string> order;
};

temp_folder *FolderScale::folder = nullptr;
std::vector<std::string> FolderScale::order;

TEST_F(FolderScale, ScanTakesTheFirstFiftyAndReadsNoFurther) {
    ASSERT_EQ(order.size(), 10002u);
    std::size_t needed = 0;
    const std::vector<std::string> expected = first_waves(&needed);
    ASSERT_EQ(expected.size(), 50u);

    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(folder->path().c_str()), 0);
    entries_read = 0;
    streams_closed = 0;
    static track_list list;
    scan_tracks(list);
    const long read = entries_read;
    ASSERT_EQ(chdir(here), 0);

    std::vector<std::string> scanned(std::begin(list), std::end(list));
    EXPECT_EQ(scanned, expected);
    EXPECT_EQ(read, static_cast<long>(needed)) << "of " << order.size() << " entries";
    EXPECT_EQ(streams_closed, 1) << "the search must be closed once the list is full";
}

TEST_F(FolderScale, PlayerListsTheFirstFiftyBeforeItsFirstPrompt) {
    std::size_t needed = 0;
    std::vector<std::string> expected = first_waves(&needed);
    for (std::string &name : expected)
        name.resize(name.size() - 4);
    player_run run(folder->path(), input::dev_null);
    ASSERT_TRUE(run.expect("~$ ", 20)) << run.output();
    EXPECT_EQ(listing(run.output()), expected);
    EXPECT_TRUE(run.output().find("\n" + prompt(expected[0])) != std::string::npos);
}

} // namespace
