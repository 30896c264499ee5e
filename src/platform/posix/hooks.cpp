// The notice and the stopped time that the Linux platform's parts share, whichever are linked.
#include "platform/posix/hooks.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// The one notice of a run: written by the thread that first has one, read once it is due.
char notice[512];
enum notice_state { none, writing, due, shown };
std::atomic<int> state{none};
std::atomic<void (*)()> screen_wake{nullptr};
std::atomic<std::int64_t> stopped{0};

} // namespace

namespace posix {

void notify(const char *line) {
    int expected = none;
    if (!state.compare_exchange_strong(expected, writing))
        return;
    std::snprintf(notice, sizeof notice, "%s\n", line);
    if (void (*wake)() = screen_wake.load()) {
        state.store(due);
        wake();
        return;
    }
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, notice, std::strlen(notice));
    state.store(shown);
}

void show_notices_on_screen(void (*wake)()) {
    screen_wake.store(wake);
}

const char *due_notice() {
    int expected = due;
    return state.compare_exchange_strong(expected, shown) ? notice : nullptr;
}

void add_stopped_ns(std::int64_t ns) {
    stopped.fetch_add(ns);
}

std::int64_t stopped_ns() {
    return stopped.load();
}

} // namespace posix
