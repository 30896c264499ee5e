// Order of play: in turn with wrap-around, the end of a full list, wrap-around off, repeat and
// shuffle.
#include <cstdlib>

#include "harness.h"

using PlayOrderTest = PlayerTest;

namespace {
std::vector<std::string> entries(std::initializer_list<int> indexes) {
    std::vector<std::string> names;
    for (int i : indexes) {
        char name[16];
        std::snprintf(name, sizeof name, "t%02d.wav", i);
        names.emplace_back(name);
    }
    return names;
}
} // namespace

TEST_F(PlayOrderTest, InTurnWrappingToTheFirstEntry) {
    fake::set_folder(track_names(3));
    fake::set_play_budget(5);
    EXPECT_EQ(fake::run_main(), -1);
    EXPECT_EQ(fake::opened(), entries({0, 1, 2, 0, 1}));
    // Each track is announced on a line of its own before it opens.
    EXPECT_EQ(count(fake::output(), "\nKestrovaSonvane~ t00~$ "), 2);
}

TEST_F(PlayOrderTest, OneNameRepeatsForever) {
    fake::set_folder({"only.wav"});
    fake::set_play_budget(4);
    fake::run_main();
    EXPECT_EQ(fake::opened(), std::vector<std::string>(4, "only.wav"));
}

TEST_F(PlayOrderTest, FullListEndsAfterEntry49WithOneCharacterRead) {
    fake::set_folder(track_names(60));
    EXPECT_EQ(fake::run_main(), 0);
    EXPECT_FALSE(fake::ended_by_exit());
    ASSERT_EQ(fake::opened().size(), 50u);
    EXPECT_EQ(fake::opened().back(), "t49.wav");
    EXPECT_EQ(count_in_trace("char"), 1);
    EXPECT_EQ(fake::open_devices(), 0);
}

TEST_F(PlayOrderTest, WrapAroundOffEndsAtTheEndOfTheListWithoutReading) {
    fake::set_folder(track_names(3));
    fake::type_at(t0, "alloop\n");
    EXPECT_EQ(fake::run_main(), 0);
    EXPECT_FALSE(fake::ended_by_exit());
    EXPECT_EQ(fake::opened(), entries({0, 1, 2}));
    EXPECT_EQ(count_in_trace("char"), 0);
    EXPECT_EQ(fake::clock_ms(), track_start(3));
}

TEST_F(PlayOrderTest, RepeatOneOnTheLastEntryOfAShortList) {
    fake::set_folder(track_names(3));
    fake::type_at(track_start(2) + 500, "loop\n");
    fake::set_play_budget(6);
    fake::run_main();
    EXPECT_EQ(fake::opened(), entries({0, 1, 2, 2, 2, 2}));
}

TEST_F(PlayOrderTest, RepeatOneOnEntry49OfAFullListEndsTheProgram) {
    fake::set_folder(track_names(50));
    fake::type_at(t0 + 100, "49\n");
    fake::type_at(t0 + 1000, "loop\n");
    EXPECT_EQ(fake::run_main(), 0);
    EXPECT_EQ(fake::opened(), entries({0, 49}));
    EXPECT_EQ(count_in_trace("char"), 1);
}

TEST_F(PlayOrderTest, RepeatOneWithWrapAroundOffStillEnds) {
    fake::set_folder(track_names(2));
    fake::type_at(t0 + 100, "alloop\n");
    fake::type_at(track_start(1) + 100, "loop\n");
    EXPECT_EQ(fake::run_main(), 0);
    EXPECT_EQ(fake::opened(), entries({0, 1}));
}

TEST_F(PlayOrderTest, ShufflePicksAreRandModuloTheCountAndTheLastPickLeadsToEntry0) {
    // Find a start second whose first pick is the last of five entries.
    std::int64_t seconds = t0 / 1000;
    for (;; ++seconds) {
        std::srand(static_cast<unsigned>(seconds));
        if (std::rand() % 5 == 4)
            break;
    }
    fake::set_clock_ms(seconds * 1000);
    fake::set_folder(track_names(5));
    fake::type_at(seconds * 1000, "shuffle\n");
    fake::set_play_budget(5);
    fake::run_main();

    std::srand(static_cast<unsigned>(seconds));
    int first = std::rand() % 5;
    int second = std::rand() % 5;
    int third = std::rand() % 5;
    ASSERT_EQ(first, 4);
    // The advance past the last entry reaches the end of the list: entry 0, with no pick.
    int after_second = second + 1 == 5 ? 0 : third;
    EXPECT_EQ(fake::opened(), entries({0, 4, 0, second, after_second}));
}
