// Fuzz target: the time display, handed any pair of 32-bit integers.
// Both times must come out exact and the bar well formed.
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console.h"
#include "fake/fake_platform.h"

namespace {

// A broken expectation is a finding: say which before libFuzzer records the input.
#define REQUIRE(holds) ((holds) ? (void)0 : broken(#holds, __LINE__))

[[noreturn]] void broken(const char *expectation, int line) {
    std::fprintf(stderr, "expectation failed at line %d: %s\n", line, expectation);
    std::abort();
}

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
    const std::string out = fake::output();

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
    if (length > 0) {
        if (elapsed >= length)
            REQUIRE(filled == 30);
        else if (elapsed < 0)
            REQUIRE(filled == 0);
        else
            REQUIRE(filled >= 1 && filled <= 30);
    }
    return 0;
}
