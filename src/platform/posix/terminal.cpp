// The terminal on Linux: its mode, set and given back on every way out, and the signals that
// end, stop and continue the player.
#include "platform/posix/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/hooks.h"
#include "platform/posix/line_editor.h"

// Sanitizer builds have it: a report that ends the process without a signal calls it first.
extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

namespace {

// What console_open found and changed; written before any handler is installed and only read
// afterwards, so the signal handlers may use it on whichever thread they run.
struct console_state : posix::terminal::setup {
    termios original{};
    termios raw{};
    int in_flags = -1;
};
console_state console;
std::atomic<bool> console_taken{false};
// Whether the terminal is in our mode now: after Ctrl-Z and bg it is not, and touching it from
// the background would only stop us with SIGTTOU.
std::atomic<bool> raw_applied{false};
// Whether the screen's cursor is past the start of a line, where a shell's prompt must not land.
std::atomic<bool> cursor_mid_line{false};
// Set when the player comes back from a stop: the line it was on is drawn again, on the player's
// own thread, at the next look at the keyboard.
std::atomic<bool> redraw_due{false};
// Written by the continue handlers and by a notice, so that a wait for a key wakes to draw.
int wake_pipe[2] = {-1, -1};
// What each signal did before we took it: the default action, or a sanitizer's handler that
// must still see the signal after us. Written before our handler goes in, only read after.
struct sigaction previous_action[NSIG];

bool in_foreground() {
    return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

// Async-signal-safe: called from the signal handlers as well as on the way out.
void restore_console() {
    if (!console_taken.load()) {
        return;
    }
    if (console.screen_fd >= 0 && cursor_mid_line.exchange(false)) {
        const ssize_t ignored = write(console.screen_fd, "\n", 1);
        (void)ignored;
    }
    if (console.tty && raw_applied.exchange(false)) {
        tcsetattr(STDIN_FILENO, TCSANOW, &console.original);
    }
    if (console.in_flags != -1 && fcntl(STDIN_FILENO, F_GETFL) != console.in_flags) {
        fcntl(STDIN_FILENO, F_SETFL, console.in_flags);
    }
}

void apply_raw_mode() {
    // From the background this would only stop us with SIGTTOU; fg sends SIGCONT, and we
    // come back here then.
    if (console.tty && in_foreground() && tcsetattr(STDIN_FILENO, TCSANOW, &console.raw) == 0) {
        raw_applied.store(true);
    }
}

void set_handler(int signal_number, void (*handler)(int, siginfo_t *, void *), int flags) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | flags;
    sigaction(signal_number, &action, nullptr);
}

// Hands a signal on to what was there before us (the default action, or a sanitizer's report)
// and lets it happen now, from inside our own handler.
void pass_on(int signal_number) {
    sigaction(signal_number, &previous_action[signal_number], nullptr);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    raise(signal_number);
}

void on_ending_signal(int signal_number, siginfo_t *info, void *) {
    restore_console();
    const bool fault = signal_number == SIGSEGV || signal_number == SIGBUS ||
                       signal_number == SIGFPE || signal_number == SIGILL;
    if (fault && info != nullptr && info->si_code > 0) {
        // A fault of our own: returning runs the faulting instruction again, and it meets the
        // handler that was there before with the true place and address.
        sigaction(signal_number, &previous_action[signal_number], nullptr);
        return;
    }
    // Dying by the signal itself tells the shell what happened, as an untouched program would.
    pass_on(signal_number);
}

void wake_player() {
    if (wake_pipe[1] >= 0) {
        const ssize_t ignored = write(wake_pipe[1], "", 1);
        (void)ignored;
    }
}

void come_back() {
    redraw_due.store(true);
    wake_player();
}

std::int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void on_stop_signal(int signal_number, siginfo_t *, void *) {
    const int saved_errno = errno;
    restore_console();
    // The sound stops with the player, rather than playing out the device's buffer meanwhile.
    posix::hold_sound(true);
    const std::int64_t stopped_at = monotonic_ns();
    pass_on(signal_number);
    posix::add_stopped_ns(monotonic_ns() - stopped_at);
    posix::hold_sound(false);
    // Here again after SIGCONT. No SA_RESTART: a read that waits for a key returns, so the
    // line is drawn again at once.
    set_handler(signal_number, on_stop_signal, 0);
    apply_raw_mode();
    come_back();
    errno = saved_errno;
}

void on_continue(int, siginfo_t *, void *) {
    const int saved_errno = errno;
    apply_raw_mode();
    come_back();
    errno = saved_errno;
}

// Handlers go only where the signal's default action is in force: a signal the shell told us
// to ignore (nohup, a background job without job control) stays ignored.
void take_signal(int signal_number, void (*handler)(int, siginfo_t *, void *), int flags) {
    struct sigaction &current = previous_action[signal_number];
    if (sigaction(signal_number, nullptr, &current) != 0 ||
        (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)) {
        return;
    }
    set_handler(signal_number, handler, flags);
}

// Every signal whose default action ends the process or dumps core, but SIGKILL.
constexpr int ending_signals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGPIPE, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ,
                                  SIGPOLL, SIGABRT, SIGSEGV,   SIGBUS,  SIGFPE,  SIGILL,
                                  SIGTRAP, SIGSYS,  SIGSTKFLT, SIGPWR};

// A crash that overflowed the stack still finds room to restore the terminal.
void ensure_signal_stack() {
    static char room[64 * 1024];
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t ours{};
        ours.ss_sp = room;
        ours.ss_size = sizeof room;
        sigaltstack(&ours, nullptr);
    }
}

} // namespace

namespace posix::terminal {

const setup &found() {
    return console;
}

void set_mid_line(bool mid) {
    cursor_mid_line.store(mid);
}

bool mid_line() {
    return cursor_mid_line.load();
}

bool take_redraw() {
    return redraw_due.exchange(false) && raw_applied.load();
}

bool wait_for_input() {
    pollfd ready[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    if (poll(ready, wake_pipe[0] >= 0 ? 2 : 1, -1) < 0 || ready[1].revents != 0) {
        char drained[16];
        while (wake_pipe[0] >= 0 && read(wake_pipe[0], drained, sizeof drained) > 0) {
        }
        return false;
    }
    return true;
}

} // namespace posix::terminal

namespace plat {

void console_open() {
    std::setlocale(LC_CTYPE, "");
    console.in_flags = fcntl(STDIN_FILENO, F_GETFL);
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &console.original) == 0) {
        console.tty = true;
        console.raw = console.original;
        // Signals stay on: Ctrl-C ends the player and Ctrl-Z stops it, through the handlers.
        console.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL);
        console.raw.c_cc[VMIN] = 1;
        console.raw.c_cc[VTIME] = 0;
        console.erase = console.original.c_cc[VERASE];
        console.kill = console.original.c_cc[VKILL];
        console.word_erase = console.original.c_cc[VWERASE];
        // Echo goes to the terminal we read from, even when standard output is redirected.
        if ((console.in_flags & O_ACCMODE) != O_RDONLY) {
            console.echo_fd = STDIN_FILENO;
        }
    }
    if (isatty(STDOUT_FILENO)) {
        console.screen_fd = STDOUT_FILENO;
    } else if (console.tty && console.echo_fd == STDIN_FILENO) {
        console.screen_fd = STDIN_FILENO;
    }
    console_taken.store(true);
    ensure_signal_stack();
    for (int signal_number : ending_signals) {
        take_signal(signal_number, on_ending_signal, SA_RESTART | SA_ONSTACK);
    }
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
        take_signal(signal_number, on_ending_signal, SA_RESTART);
    }
    if (pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        wake_pipe[0] = wake_pipe[1] = -1;
    }
    if (console.screen_fd >= 0) {
        posix::show_notices_on_screen(wake_player);
    }
    if (console.tty) {
        take_signal(SIGTSTP, on_stop_signal, 0);
        take_signal(SIGCONT, on_continue, 0);
    }
    std::atexit(restore_console);
    if (__sanitizer_set_death_callback != nullptr) {
        __sanitizer_set_death_callback(restore_console);
    }
    apply_raw_mode();
}

void exit_process(int status) {
    // A thread stuck in a hung sound server must not see the libraries torn down around it: the
    // process then ends without their destructors.
    const bool sound_stopped = posix::stop_all_sound();
    posix::editor::show_due_notice();
    restore_console();
    if (!sound_stopped)
        _exit(status);
    std::exit(status);
}

} // namespace plat
