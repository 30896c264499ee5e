// The time display: minutes and seconds, and the 30-cell progress bar.
#include "console/console.h"
#include "harness.h"

using TimeDisplayTest = PlayerTest;

namespace {
std::string shown(std::int32_t elapsed, std::int32_t length) {
    fake::reset();
    show_time(elapsed, length);
    return fake::output();
}
std::string bar(int full) {
    return std::string(full, '>') + std::string(30 - full, '.') + "\n";
}
} // namespace

TEST_F(TimeDisplayTest, Examples) {
    EXPECT_EQ(shown(65, 222), "\n1 min 5 sec / 3 min 42 sec\n" + bar(9));
    EXPECT_EQ(shown(0, 222), "\n0 min 0 sec / 3 min 42 sec\n" + bar(1));
    EXPECT_EQ(shown(60, 60), "\n1 min 0 sec / 1 min 0 sec\n" + bar(30));
    EXPECT_EQ(shown(7, 3), "\n0 min 7 sec / 0 min 3 sec\n" + bar(30));
    EXPECT_EQ(shown(3600, 4000), "\n60 min 0 sec / 66 min 40 sec\n" + bar(28));
    EXPECT_EQ(shown(-75, 200), "\n-1 min -15 sec / 3 min 20 sec\n" + bar(0));
}

TEST_F(TimeDisplayTest, BarCellsAtExactRatios) {
    EXPECT_EQ(shown(1, 60).substr(shown(1, 60).size() - 31), bar(1));
    EXPECT_EQ(shown(2, 60).substr(shown(2, 60).size() - 31), bar(2));
    EXPECT_EQ(shown(111, 222).substr(shown(111, 222).size() - 31), bar(16));
    EXPECT_EQ(shown(214, 222).substr(shown(214, 222).size() - 31), bar(29));
    EXPECT_EQ(shown(215, 222).substr(shown(215, 222).size() - 31), bar(30));
}

TEST_F(TimeDisplayTest, ZeroLengthFollowsIeeeArithmetic) {
    EXPECT_EQ(shown(5, 0), "\n0 min 5 sec / 0 min 0 sec\n" + bar(30));  // +inf
    EXPECT_EQ(shown(0, 0), "\n0 min 0 sec / 0 min 0 sec\n" + bar(0));   // NaN
    EXPECT_EQ(shown(-5, 0), "\n0 min -5 sec / 0 min 0 sec\n" + bar(0)); // -inf
}

TEST_F(TimeDisplayTest, ExtremesDoNotOverflow) {
    EXPECT_EQ(shown(INT32_MIN, INT32_MAX),
              "\n-35791394 min -8 sec / 35791394 min 7 sec\n" + bar(0));
    EXPECT_EQ(shown(INT32_MAX, 1), "\n35791394 min 7 sec / 0 min 1 sec\n" + bar(30));
}
