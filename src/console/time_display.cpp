// The time display: elapsed and total time, then a progress bar of 30 cells.
#include "console/console.h"

namespace {

constexpr int bar_cells = 30;

void split(std::int32_t seconds, std::int32_t *minutes, std::int32_t *rest) {
    *rest = seconds % 60;
    // Taking the remainder off first keeps this exact even for INT32_MIN.
    *minutes = (seconds - *rest) / 60;
}

} // namespace

void show_time(std::int32_t elapsed, std::int32_t length) {
    std::int32_t em, es, lm, ls;
    split(elapsed, &em, &es);
    split(length, &lm, &ls);
    say("\n%d min %d sec / %d min %d sec\n", static_cast<int>(em), static_cast<int>(es),
        static_cast<int>(lm), static_cast<int>(ls));
    print_bar(elapsed, length);
}

void print_bar(std::int32_t elapsed, std::int32_t length) {
    // A length of 0 follows IEEE arithmetic: +inf fills the bar, NaN and -inf leave it empty.
    double ratio = static_cast<double>(elapsed) * 30.0 / static_cast<double>(length);
    char bar[bar_cells + 2];
    for (int i = 0; i < bar_cells; ++i)
        bar[i] = i <= ratio ? '>' : '.';
    bar[bar_cells] = '\n';
    bar[bar_cells + 1] = '\0';
    say("%s", bar);
}
