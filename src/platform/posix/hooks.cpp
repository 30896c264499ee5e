// What the Linux platform's parts share, whichever are linked: the notice, and Ctrl-Z's holds.
#include "platform/posix/hooks.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Notices waiting to be shown, each written by the thread that has it and taken once it is due.
// The run's word that there is no sound is said once; a track's is said for each play.
constexpr int most_waiting = 4;
enum slot_state { free_slot, writing, due, taking };
struct slot {
    char line[512];
    std::atomic<int> state{free_slot};
};
slot waiting[most_waiting];
std::atomic<bool> no_sound_said{false};
std::atomic<void (*)()> screen_wake{nullptr};
std::atomic<std::int64_t> stopped{0};

// Ctrl-Z's hold: the flag the playback threads read, the controls' eventfds that wake them, and
// an eventfd on which they say that their devices are silent.
std::atomic<bool> held{false};
std::atomic<int> playing{0};
constexpr int most_watched = 16;
std::atomic<int> watched[most_watched] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1};
const int paused_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
std::atomic<bool (*)()> sound_stopper{nullptr};

void wake_all() {
    const std::uint64_t one = 1;
    for (std::atomic<int> &fd : watched) {
        const int watching = fd.load();
        if (watching >= 0) {
            [[maybe_unused]] const ssize_t n = write(watching, &one, sizeof one);
        }
    }
}

} // namespace

namespace posix {

void notify(const char *line, bool once_a_run) {
    if (once_a_run && no_sound_said.exchange(true))
        return;
    for (slot &s : waiting) {
        int expected = free_slot;
        if (!s.state.compare_exchange_strong(expected, writing))
            continue;
        std::snprintf(s.line, sizeof s.line, "%s\n", line);
        if (void (*wake)() = screen_wake.load()) {
            s.state.store(due);
            wake();
            return;
        }
        [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, s.line, std::strlen(s.line));
        s.state.store(free_slot);
        return;
    }
    // More at once than the screen can take between two looks at the keyboard: the rest are
    // dropped rather than kept waiting.
}

void show_notices_on_screen(void (*wake)()) {
    screen_wake.store(wake);
}

bool take_notice(char *line, std::size_t size) {
    for (slot &s : waiting) {
        int expected = due;
        if (!s.state.compare_exchange_strong(expected, taking))
            continue;
        std::snprintf(line, size, "%s", s.line);
        s.state.store(free_slot);
        return true;
    }
    return false;
}

void add_stopped_ns(std::int64_t ns) {
    stopped.fetch_add(ns);
}

std::int64_t stopped_ns() {
    return stopped.load();
}

void hold_sound(bool hold) {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(paused_fd, &count, sizeof count);
    held.store(hold);
    wake_all();
    if (!hold)
        return;
    // A thread that ends its track meanwhile never answers: the wait is bounded for it.
    timespec start{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (std::uint64_t answered = 0; answered < static_cast<std::uint64_t>(playing.load());) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long left_ms =
            1000 - ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
        pollfd answer{paused_fd, POLLIN, 0};
        if (left_ms <= 0 || poll(&answer, 1, static_cast<int>(left_ms)) <= 0)
            return;
        if (read(paused_fd, &count, sizeof count) == sizeof count)
            answered += count;
    }
}

bool sound_held() {
    return held.load();
}

void sound_playing(bool now_playing) {
    playing.fetch_add(now_playing ? 1 : -1);
}

void sound_paused() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(paused_fd, &one, sizeof one);
}

void watch_sound(int fd, bool watch) {
    for (std::atomic<int> &slot : watched) {
        int expected = watch ? -1 : fd;
        if (slot.compare_exchange_strong(expected, watch ? fd : -1))
            return;
    }
}

void stop_sound_with(bool (*stop_all)()) {
    sound_stopper.store(stop_all);
}

bool stop_all_sound() {
    bool (*stop_all)() = sound_stopper.load();
    return stop_all == nullptr || stop_all();
}

} // namespace posix
