// Start-up: the scan of the folder, the listing, the first prompt and the empty folder.
#include <cstring>

#include "harness.h"
#include "player/player.h"

using StartupTest = PlayerTest;

TEST_F(StartupTest, ListingPadsOneDigitIndexesAndShowsFirstPrompt) {
    fake::set_folder(track_names(13));
    fake::set_play_budget(0);
    fake::run_main();
    std::string listing;
    for (int i = 0; i < 13; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%-2d| t%02d\n", i, i);
        listing += line;
    }
    EXPECT_NE(fake::output().find("\n7 | t07\n"), std::string::npos);
    EXPECT_NE(fake::output().find("\n12| t12\n"), std::string::npos);
    EXPECT_EQ(fake::output(), listing + "\nKestrovaSonvane~ t00~$ ");
}

TEST_F(StartupTest, EmptyFolderPrintsOnlyTheMessageReadsOneCharacterAndEndsWithOne) {
    fake::type_at(t0, "xy\n");
    EXPECT_EQ(fake::run_main(), 1);
    EXPECT_TRUE(fake::ended_by_exit());
    EXPECT_EQ(fake::output(), "There are no mp3s.\n");
    EXPECT_EQ(count_in_trace("char"), 1);
    EXPECT_TRUE(fake::mci_calls().empty());
}

TEST_F(StartupTest, EmptyFolderAtEndOfInputDoesNotBlock) {
    EXPECT_EQ(fake::run_main(), 1);
    EXPECT_EQ(fake::clock_ms(), t0);
}

TEST_F(StartupTest, FortyNineFiftyAndMoreNames) {
    for (int n : {49, 50, 51, 80}) {
        SCOPED_TRACE(n);
        fake::reset();
        fake::set_folder(track_names(n));
        fake::set_play_budget(0);
        fake::run_main();
        int shown = std::min(n, 50);
        EXPECT_EQ(count(fake::output(), "| t"), shown);
        EXPECT_EQ(fake::output().find("49| t49\n") != std::string::npos, shown == 50);
        // The fiftieth name ends the search: no further name is asked for.
        EXPECT_EQ(fake::names_reported(), shown);
        EXPECT_FALSE(fake::search_open());
    }
}

TEST_F(StartupTest, EndMarkLayoutAndTrackCount) {
    track_list list;
    std::memset(list, 'z', sizeof list);
    fake::set_folder({});
    scan_tracks(list);
    EXPECT_STREQ(list[0], "else no");
    EXPECT_STREQ(list[1], "else no");
    EXPECT_EQ(count_tracks(list), 0);

    fake::set_folder(track_names(49));
    scan_tracks(list);
    EXPECT_STREQ(list[48], "t48.wav");
    EXPECT_STREQ(list[49], "else no");
    EXPECT_EQ(count_tracks(list), 49);

    fake::set_folder(track_names(50));
    scan_tracks(list);
    EXPECT_STREQ(list[49], "t49.wav");
    EXPECT_EQ(count_tracks(list), 50);
}

TEST_F(StartupTest, SearchFailingPartWayEndsTheList) {
    fake::set_folder(track_names(10));
    fake::fail_search_after(3);
    track_list list;
    scan_tracks(list);
    EXPECT_EQ(count_tracks(list), 3);
    EXPECT_FALSE(fake::search_open());
}

TEST_F(StartupTest, NamesLoseTheirLastExtensionOnly) {
    fake::set_folder({"a.b.wav", ".wav", "SONG.WAV", "Song.Wav"});
    fake::set_play_budget(0);
    fake::run_main();
    EXPECT_EQ(fake::output(), "0 | a.b\n1 | \n2 | SONG\n3 | Song\n\nKestrovaSonvane~ a.b~$ ");
}

TEST_F(StartupTest, NamesTooLongForAnEntryAreSkippedNotCut) {
    std::string long_name = std::string(252, 'x') + ".wav"; // 256 bytes: one too many
    std::string longest = std::string(251, 'y') + ".wav";   // 255 bytes: fits
    fake::set_folder({long_name, longest, "b.wav"});
    track_list list;
    scan_tracks(list);
    EXPECT_EQ(count_tracks(list), 2);
    EXPECT_EQ(std::string(list[0]), longest);
    EXPECT_STREQ(list[1], "b.wav");
}

TEST_F(StartupTest, ControlBytesInNamesAreShownAsQuestionMarks) {
    fake::set_folder({"\x1b[2Jevil\x7f.wav", "tab\there.wav", "\xe6\x9b\xb2.wav"});
    fake::set_play_budget(1);
    fake::run_main();
    EXPECT_EQ(fake::output(), "0 | ?[2Jevil?\n1 | tab?here\n2 | \xe6\x9b\xb2\n"
                              "\nKestrovaSonvane~ ?[2Jevil?~$ "
                              "\nKestrovaSonvane~ tab?here~$ ");
    // The stored name is untouched: the file is still opened by its real name.
    EXPECT_EQ(fake::opened().at(0), "\x1b[2Jevil\x7f.wav");
}

TEST_F(StartupTest, PrintingLeavesEveryEntryUnchanged) {
    fake::set_folder({"a.b.wav", ".wav", "x.y.z.wav", "plain.wav"});
    track_list list;
    scan_tracks(list);
    track_list before;
    std::memcpy(before, list, sizeof list);
    list_tracks(list);
    for (int i = 0; i < 4; ++i)
        print_prompt(list[i]);
    EXPECT_EQ(std::memcmp(before, list, sizeof list), 0);
}
