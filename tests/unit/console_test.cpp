// The console front end alone: the time display's rounding and bar, and numbers beyond 32 bits.
#include <gtest/gtest.h>

#include <climits>

#include "console/console.h"
#include "fake/fake_platform.h"

TEST(TimeDisplay, MinutesSecondsAndBar) {
    struct {
        std::int32_t elapsed, length;
        const char *line;
        int full; // cells shown as '>'
    } rows[] = {
        {65, 222, "1 min 5 sec / 3 min 42 sec", 9},
        {2, 60, "0 min 2 sec / 1 min 0 sec", 2}, // a ratio of exactly 1 counts as reached
        {214, 222, "3 min 34 sec / 3 min 42 sec", 29},
        {215, 222, "3 min 35 sec / 3 min 42 sec", 30},
        {7, 3, "0 min 7 sec / 0 min 3 sec", 30},
        {3600, 4000, "60 min 0 sec / 66 min 40 sec", 28},
        {-75, 200, "-1 min -15 sec / 3 min 20 sec", 0},
        {5, 0, "0 min 5 sec / 0 min 0 sec", 30},  // +inf
        {0, 0, "0 min 0 sec / 0 min 0 sec", 0},   // NaN
        {-5, 0, "0 min -5 sec / 0 min 0 sec", 0}, // -inf
        {INT32_MIN, INT32_MAX, "-35791394 min -8 sec / 35791394 min 7 sec", 0},
    };
    for (const auto &r : rows) {
        fake::reset();
        show_time(r.elapsed, r.length);
        EXPECT_EQ(fake::seen.output, "\n" + std::string(r.line) + "\n" + std::string(r.full, '>') +
                                         std::string(30 - r.full, '.') + "\n")
            << r.elapsed << " of " << r.length;
    }
}

// The player ignores these codes; neither the value nor the code may overflow.
TEST(CommandReader, NumbersBeyond32BitsGiveACodeAbove60) {
    for (const char *huge : {"2147483637", "2147483647", "99999999999999999999"}) {
        fake::reset();
        fake::type_at(0, std::string(huge) + "\n");
        EXPECT_GT(read_cmd(), 60) << huge;
    }
}
