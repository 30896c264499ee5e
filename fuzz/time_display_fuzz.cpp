// Fuzz target: the time display, handed any pair of 32-bit integers. The minutes and seconds must
// add up to the values, and the bar must fill as many cells as an exact integer count gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "fake/fake_platform.h"
#include "require.h"

namespace {

// Minutes and seconds recombine to the value, the seconds under a minute and of its sign.
void check_split(std::int32_t value, long long minutes, long long seconds) {
    REQUIRE(minutes * 60 + seconds == value);
    REQUIRE(seconds > -60 && seconds < 60);
    REQUIRE(value >= 0 ? seconds >= 0 : seconds <= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size != 8)
        return 0;
    std::int32_t elapsed, length;
    std::memcpy(&elapsed, data, 4);
    std::memcpy(&length, data + 4, 4);

    fake::reset();
    show_time(elapsed, length);
    const std::string out = fake::seen.output;

    long long em, es, lm, ls;
    int used = 0;
    REQUIRE(std::sscanf(out.c_str(), "\n%lld min %lld sec / %lld min %lld sec\n%n", &em, &es, &lm,
                        &ls, &used) == 4);
    check_split(elapsed, em, es);
    check_split(length, lm, ls);

    // Thirty cells and a line end: every '>' before every '.'.
    const std::string bar = out.substr(static_cast<std::size_t>(used));
    REQUIRE(bar.size() == 31 && bar.back() == '\n');
    const std::size_t filled = bar.find_first_not_of('>');
    REQUIRE(bar.find_first_not_of('.', filled) == 30);
    // With a length, cell i is full exactly when i * length <= 30 * elapsed.
    if (length > 0) {
        std::size_t exact = 0;
        for (long long i = 0; i < 30; ++i)
            exact += i * length <= 30LL * elapsed ? 1 : 0;
        REQUIRE(filled == exact);
    }
    return 0;
}
