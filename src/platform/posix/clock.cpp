// Time on Linux: the player's clock, sleeping, a millisecond tick and the process id.
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/hooks.h"

namespace plat {

// The calendar clock less the time spent stopped by Ctrl-Z: a track stopped halfway has half of
// it left after fg, as it has of its sound.
std::int64_t now_seconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t ns =
        static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec - posix::stopped_ns();
    return ns / 1000000000 - (ns % 1000000000 < 0 ? 1 : 0);
}

void sleep_ms(unsigned ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // A signal (a resize, a resume after Ctrl-Z) must not cut the player's pass short.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// A pause that Ctrl-Z interrupts is timed by it, and the stop is left out of both clocks alike.
std::uint32_t tick_count() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t ns =
        static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec - posix::stopped_ns();
    // Wraps every 49.7 days, as the tick count it stands for does.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ns / 1000000));
}

std::uint32_t current_process_id() {
    return static_cast<std::uint32_t>(getpid());
}

} // namespace plat
