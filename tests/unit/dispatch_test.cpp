// Command dispatch through the whole player: where each command leaves the index, and what it
// prints.
#include <cstdlib>

#include "harness.h"
#include "platform/mci.h"

namespace {

class DispatchTest : public PlayerTest {
  protected:
    // Plays five tracks of 3 s; each line is typed 300 ms after the one before, from `at`.
    std::vector<int> play(std::vector<std::string> lines, std::int64_t at = t0 + 100,
                          int budget = 4) {
        fake::set_folder(track_names(5));
        for (const std::string &l : lines) {
            fake::type_at(at, l + "\n");
            at += 300;
        }
        fake::set_play_budget(budget);
        status = fake::run_main();
        std::vector<int> played;
        for (const std::string &name : fake::opened())
            played.push_back(std::atoi(name.c_str() + 1));
        return played;
    }
    int status = 0;
    using v = std::vector<int>;
};

} // namespace

TEST_F(DispatchTest, NextStopAndBefore) {
    EXPECT_EQ(play({"next"}), (v{0, 1, 2, 3}));
    fake::reset();
    EXPECT_EQ(play({"nope"}), (v{0, 1, 2, 3}));
    fake::reset();
    EXPECT_EQ(play({"before"}), (v{0, 4, 0, 1}));
    fake::reset();
    EXPECT_EQ(play({"3", "before"}), (v{0, 3, 2, 3}));
}

TEST_F(DispatchTest, StopWaitsForAKeyThenPlaysTheNextEntry) {
    fake::set_folder(track_names(5));
    fake::type_at(t0 + 100, "stop\n");
    fake::type_at(t0 + 60000, " ");
    fake::set_play_budget(2);
    fake::run_main();
    const auto &calls = fake::mci_calls();
    ASSERT_GE(calls.size(), 5u);
    // open, play, status, the reader's close, then the loop's own close of device 0.
    EXPECT_EQ(calls[3].message, mci::close);
    EXPECT_EQ(calls[4].message, mci::close);
    EXPECT_EQ(calls[4].device, 0u);
    EXPECT_EQ(fake::opened(), (std::vector<std::string>{"t00.wav", "t01.wav"}));
    EXPECT_EQ(fake::clock_ms(), t0 + 64000);
}

TEST_F(DispatchTest, NumbersJumpOrReachTheEndOfTheList) {
    EXPECT_EQ(play({"0"}), (v{0, 0, 1, 2}));
    fake::reset();
    EXPECT_EQ(play({"2"}), (v{0, 2, 3, 4}));
    for (const char *beyond : {"5", "7", "49"}) {
        fake::reset();
        EXPECT_EQ(play({beyond}), (v{0, 0, 1, 2})) << beyond;
    }
    fake::reset();
    EXPECT_EQ(play({"alloop", "7"}), (v{0}));
    EXPECT_EQ(status, 0);
}

TEST_F(DispatchTest, FiftyEndsAtOnceOnTheLineEndItLeaves) {
    EXPECT_EQ(play({"50"}), (v{0}));
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fake::ended_by_exit());
    EXPECT_EQ(count_in_trace("char"), 1);
    EXPECT_EQ(fake::clock_ms(), t0 + 200);
}

TEST_F(DispatchTest, NumbersAboveFiftyAndUnknownWordsChangeAndPrintNothing) {
    play({});
    const std::string untouched = fake::output();
    for (const char *ignored : {"51", "99999999999999999999", "Next", "-1", "hello"}) {
        fake::reset();
        EXPECT_EQ(play({ignored}), (v{0, 1, 2, 3})) << ignored;
        EXPECT_EQ(fake::output(), untouched) << ignored;
    }
}

TEST_F(DispatchTest, NextOnTheLastEntryWithWrapAroundOffEnds) {
    EXPECT_EQ(play({"4", "alloop", "next"}), (v{0, 4}));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count_in_trace("char"), 0);
}

TEST_F(DispatchTest, TogglesTypedTwiceLeaveTheModesAsTheyWere) {
    EXPECT_EQ(play({"shuffle", "shuffle"}), (v{0, 1, 2, 3}));
    fake::reset();
    EXPECT_EQ(play({"loop", "loop"}), (v{0, 1, 2, 3}));
    fake::reset();
    EXPECT_EQ(play({"alloop", "alloop", "4"}), (v{0, 4, 0, 1}));
    // Each toggle shows the prompt again.
    EXPECT_EQ(count(fake::output(), "KestrovaSonvane~ t00~$ "), 4);
}

TEST_F(DispatchTest, RepeatOneTakesOneMoreOffTheIndex) {
    EXPECT_EQ(play({"loop", "next"}), (v{0, 0, 0, 0}));
    fake::reset();
    EXPECT_EQ(play({"loop", "before"}), (v{0, 3, 3, 3}));
    fake::reset();
    EXPECT_EQ(play({"1", "loop", "before"}, t0 + 100, 3), (v{0, 1, 4}));
    fake::reset();
    EXPECT_EQ(play({"loop", "3"}), (v{0, 2, 2, 2}));
    fake::reset();
    EXPECT_EQ(play({"loop", "0"}), (v{0, 4, 4, 4}));
    fake::reset();
    EXPECT_EQ(play({"loop", "7"}), (v{0, 4, 4, 4}));
    fake::reset();
    EXPECT_EQ(play({"loop", "alloop", "7"}), (v{0}));
    EXPECT_EQ(status, 0);
}

TEST_F(DispatchTest, ShuffleWithNumbersRepeatAndTheEndOfTheList) {
    std::int64_t seconds = t0 / 1000;
    // A number plays its entry; the random picks resume after it.
    std::vector<int> played = play({"shuffle", "3"});
    std::srand(static_cast<unsigned>(seconds));
    int pick1 = std::rand() % 5;
    ASSERT_EQ(played.size(), 4u);
    EXPECT_EQ(played[1], 3);
    EXPECT_EQ(played[2], pick1);

    // With repeat-one, no pick replaces the repeated entry.
    fake::reset();
    EXPECT_EQ(play({"shuffle", "loop", "next"}), (v{0, 0, 0, 0}));

    // "next" on the last entry reaches the end of the list: entry 0 without a pick.
    fake::reset();
    played = play({"4", "shuffle", "next"});
    std::srand(static_cast<unsigned>(seconds));
    EXPECT_EQ(played, (v{0, 4, 0, std::rand() % 5}));

    // "before" leads to a random pick too.
    fake::reset();
    played = play({"shuffle", "before"}, t0 + 100, 2);
    std::srand(static_cast<unsigned>(seconds));
    EXPECT_EQ(played, (v{0, std::rand() % 5}));
}

TEST_F(DispatchTest, ExitEndsAtOnceWithOneAndLeavesTheDeviceOpen) {
    EXPECT_EQ(play({"exit"}), (v{0}));
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(fake::ended_by_exit());
    EXPECT_EQ(fake::mci_calls().back().message, mci::status);
    EXPECT_EQ(fake::clock_ms(), t0 + 200);
}

TEST_F(DispatchTest, LsPrintsAnEmptyLineTheListingAndThePrompt) {
    EXPECT_EQ(play({"ls"}, t0 + 100, 1), (v{0}));
    const std::string listing = "0 | t00\n1 | t01\n2 | t02\n3 | t03\n4 | t04\n";
    const std::string prompt = "KestrovaSonvane~ t00~$ ";
    EXPECT_EQ(fake::output(),
              listing + "\n" + prompt + "\n" + listing + prompt + "\nKestrovaSonvane~ t01~$ ");
}

TEST_F(DispatchTest, TimeShowsElapsedAndLengthThenThePrompt) {
    fake::set_default_length_ms(200000);
    play({"time"}, t0 + 75000, 1);
    const std::string prompt = "KestrovaSonvane~ t00~$ ";
    std::string expected = prompt + "\n1 min 15 sec / 3 min 20 sec\n" + std::string(12, '>') +
                           std::string(18, '.') + "\n" + prompt + "\nKestrovaSonvane~ t01~$ ";
    EXPECT_EQ(fake::output().substr(fake::output().size() - expected.size()), expected);
}

TEST_F(DispatchTest, TimeAndLsOnOneLineActAtSuccessiveKeyPresses) {
    fake::set_folder(track_names(2));
    fake::type_at(t0 + 1000, "time ls\n");
    fake::type_at(t0 + 2000, "x");
    fake::set_play_budget(1);
    fake::set_default_length_ms(200000);
    fake::run_main();
    const std::string &out = fake::output();
    std::size_t time_at = out.find("0 min 1 sec / 3 min 20 sec");
    std::size_t listing_again = out.find("0 | t00", out.find("0 | t00") + 1);
    ASSERT_NE(time_at, std::string::npos);
    ASSERT_NE(listing_again, std::string::npos);
    EXPECT_LT(time_at, listing_again);
    // "ls" came from the buffered line at the key press; the key itself is the next word.
    EXPECT_EQ(count_in_trace("word"), 3);
    EXPECT_LT(listing_again, out.find("KestrovaSonvane~ t01~$ "));
}
