// The wait: how long a track is held, how the keyboard is polled, and slow typing.
#include "harness.h"

using WaitTest = PlayerTest;

namespace {
// The events between the first and second open.
std::vector<std::string> first_track_events() {
    std::vector<std::string> events;
    bool inside = false;
    for (const std::string &e : fake::trace()) {
        if (e.rfind("open ", 0) == 0) {
            if (inside)
                break;
            inside = true;
            continue;
        }
        if (inside)
            events.push_back(e);
    }
    return events;
}
} // namespace

TEST_F(WaitTest, TrackIsHeldUntilTheWholeSecondClockPassesLengthPlusOne) {
    struct case_ {
        std::int64_t start_fraction_ms;
        std::uint32_t length_ms;
        int sleeps;
    };
    // From a whole second, L + 1 s is exactly 5(L + 1) passes; from later in a second, fewer.
    for (case_ c : {case_{0, 2000, 15}, case_{0, 2999, 15}, case_{500, 2000, 13},
                    case_{900, 2000, 11}, case_{0, 0, 5}, case_{800, 999, 1}}) {
        SCOPED_TRACE(testing::Message() << c.start_fraction_ms << " " << c.length_ms);
        fake::reset();
        fake::set_clock_ms(t0 + c.start_fraction_ms);
        fake::set_folder({"a.wav", "b.wav"});
        fake::set_default_length_ms(c.length_ms);
        fake::set_play_budget(1);
        fake::run_main();
        std::vector<std::string> events = first_track_events();
        ASSERT_EQ(events.size(), 2u * c.sleeps);
        // The keyboard is polled before each sleep, the first time right after the start.
        for (int i = 0; i < c.sleeps; ++i) {
            EXPECT_EQ(events[2 * i], "kbhit0");
            EXPECT_EQ(events[2 * i + 1], "sleep200");
        }
        EXPECT_EQ(fake::clock_ms(), t0 + c.start_fraction_ms + 200 * c.sleeps);
    }
}

TEST_F(WaitTest, ASlowlyTypedCommandEndsTheWaitAfterTheFollowingSleep) {
    fake::set_folder({"a.wav", "b.wav"});
    fake::set_default_length_ms(2000);
    fake::type_at(t0 + 1000, "ti");
    fake::type_at(t0 + 10000, "me\n");
    fake::set_play_budget(1);
    fake::run_main();
    EXPECT_NE(fake::output().find("\n0 min 10 sec / 0 min 2 sec\n"), std::string::npos);
    std::vector<std::string> events = first_track_events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 3], "kbhit1");
    EXPECT_EQ(events[events.size() - 2], "word");
    EXPECT_EQ(events.back(), "sleep200");
    EXPECT_EQ(fake::clock_ms(), t0 + 10200);
}

TEST_F(WaitTest, EndOfInputLeavesThePlayerPlayingInTurn) {
    fake::set_folder(track_names(2));
    fake::type_at(t0 + 100, "   ");
    fake::set_play_budget(3);
    EXPECT_EQ(fake::run_main(), -1);
    EXPECT_EQ(fake::opened().size(), 3u);
    EXPECT_EQ(fake::clock_ms(), track_start(3));
}
