// Keyboard and process life on Linux: a raw terminal with our own line editing, or a pipe or file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/posix/hooks.h"

// Sanitizer builds have it: a report that ends the process without a signal calls it first.
extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

namespace {

// ---- The terminal's mode, and every way out that gives it back --------------------------------

// What console_open found and changed; written before any handler is installed and only read
// afterwards, so the signal handlers may use it on whichever thread they run.
struct console_state {
    bool tty = false;
    termios original{};
    termios raw{};
    int in_flags = -1;
    int echo_fd = STDOUT_FILENO;
    // The terminal that the player's output and echo land on, or -1 when neither does.
    int screen_fd = -1;
};
console_state console;
std::atomic<bool> console_taken{false};
// Whether the terminal is in our mode now: after Ctrl-Z and bg it is not, and touching it from
// the background would only stop us with SIGTTOU.
std::atomic<bool> raw_applied{false};
// Whether the screen's cursor is past the start of a line, where a shell's prompt must not land.
std::atomic<bool> mid_line{false};
// Set when the player comes back from a stop: the line it was on is drawn again, on the player's
// own thread, at the next look at the keyboard.
std::atomic<bool> redraw_due{false};
// Written by the continue handlers and by a notice, so that a wait for a key wakes to draw.
int wake_pipe[2] = {-1, -1};
// What each signal did before we took it: the default action, or a sanitizer's handler that
// must still see the signal after us. Written before our handler goes in, only read after.
struct sigaction previous_action[NSIG];

// The unread rest of the last line taken from standard input, as stdio would hold it after
// scanf("%s"). A line longer than this is taken in pieces.
constexpr std::size_t line_capacity = 4096;
char line[line_capacity];
std::size_t line_begin = 0;
std::size_t line_end = 0;
bool input_ended = false;
// A byte that ended an escape sequence without belonging to it, such as the Enter of an ESC typed
// just before it: it is read again as a key of its own rather than lost.
int returned_byte = -1;
// Whether edit_line is taking a line: the letters typed so far are then part of the screen's line.
bool editing = false;

// The player's output since its last line end (a prompt, usually), to draw that line again after
// fg. A longer line keeps its first part only, which is at worst a shortened redraw.
char screen_line[512];
std::size_t screen_line_length = 0;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool in_foreground() {
    return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

// Async-signal-safe: called from the signal handlers as well as on the way out.
void restore_console() {
    if (!console_taken.load()) {
        return;
    }
    if (console.screen_fd >= 0 && mid_line.exchange(false)) {
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

// ---- Line editing -----------------------------------------------------------------------------

void echo(const char *bytes, std::size_t count) {
    if (count > 0) {
        mid_line.store(bytes[count - 1] != '\n');
        if (bytes[count - 1] == '\n') {
            screen_line_length = 0;
        }
    }
    while (count > 0) {
        ssize_t written = write(console.echo_fd, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

// After fg: the shell has written its job line, so the prompt and whatever was half typed go on a
// fresh line, as a line editor draws them.
void redraw_if_due() {
    if (!redraw_due.exchange(false) || !raw_applied.load()) {
        return;
    }
    if (isatty(STDOUT_FILENO)) {
        char again[1 + sizeof screen_line];
        again[0] = '\n';
        std::memcpy(again + 1, screen_line, screen_line_length);
        const std::size_t length = 1 + screen_line_length;
        plat::write_out(again, length);
    } else {
        echo("\n", 1);
    }
    if (editing) {
        echo(line, line_end);
    }
}

// A notice from another thread, on a line of its own, and the line it broke drawn again after it
// on the same terminal, so that the prompt and what was typed are in view as before.
void show_notice_if_due() {
    const char *notice = posix::due_notice();
    if (notice == nullptr) {
        return;
    }
    const int err = STDERR_FILENO;
    const bool broken = isatty(err) && mid_line.load();
    if (broken) {
        plat::write_err("\n", 1);
    }
    plat::write_err(notice, std::strlen(notice));
    if (broken) {
        if (console.screen_fd == STDOUT_FILENO) {
            plat::write_err(screen_line, screen_line_length);
        }
        if (editing) {
            plat::write_err(line, line_end);
        }
    }
}

// One byte straight from standard input, -1 once it has ended.
int read_byte() {
    if (returned_byte >= 0) {
        const int byte = returned_byte;
        returned_byte = -1;
        return byte;
    }
    if (input_ended) {
        return -1;
    }
    for (;;) {
        // Waiting on the wake pipe as well: a continue that lands just before the wait still
        // ends it, and the line is drawn again before the next key.
        redraw_if_due();
        show_notice_if_due();
        pollfd ready[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
        if (poll(ready, wake_pipe[0] >= 0 ? 2 : 1, -1) < 0 || ready[1].revents != 0) {
            char drained[16];
            while (wake_pipe[0] >= 0 && read(wake_pipe[0], drained, sizeof drained) > 0) {
            }
            continue;
        }
        unsigned char byte = 0;
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) {
            return byte;
        }
        // Someone sharing our input made it non-blocking, or a signal came: wait again.
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        // The end of a pipe or file, or a terminal that hung up: report the end from now on
        // rather than reading again and again.
        input_ended = true;
        return -1;
    }
}

// Takes the last letter off the line being edited, and off the screen: a whole multibyte
// letter in the locale's charset, as many columns as it took.
void rub_out() {
    std::size_t last = line_begin;
    std::mbstate_t state{};
    for (std::size_t at = line_begin; at < line_end;) {
        std::size_t length = std::mbrlen(line + at, line_end - at, &state);
        if (length == 0 || length > line_end - at) {
            length = 1;
            state = std::mbstate_t{};
        }
        last = at;
        at += length;
    }
    int columns = 1;
    wchar_t letter = 0;
    state = std::mbstate_t{};
    std::size_t length = std::mbrtowc(&letter, line + last, line_end - last, &state);
    if (length != 0 && length <= line_end - last) {
        int width = wcwidth(letter);
        columns = width >= 0 ? width : 1;
    }
    line_end = last;
    for (int i = 0; i < columns; ++i) {
        echo("\b \b", 3);
    }
}

// A key that the terminal sends as an escape sequence (arrows, function keys) arrives as one
// burst; it is taken whole, so that none of it is read as typed letters later.
void skip_escape_sequence() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    auto next = [&in]() { return poll(&in, 1, 20) > 0 ? read_byte() : -1; };
    // Only bytes from ' ' to '~' can be part of a sequence; any other ends it and is kept.
    auto keep_unless_part = [](int b) {
        if (b >= 0 && (b < 0x20 || b > 0x7e)) {
            returned_byte = b;
        }
    };
    int kind = next();
    if (kind == '[') {
        // Parameters and intermediates, then one final byte from '@' to '~'.
        int b = next();
        while (b >= 0x20 && b <= 0x3f) {
            b = next();
        }
        keep_unless_part(b);
    } else if (kind == 'O') {
        keep_unless_part(next());
    } else {
        keep_unless_part(kind);
    }
}

// Reads one line from the terminal, echoing and editing it as the terminal's own cooked mode
// would, and leaves it, line end included, as the buffered line.
bool edit_keys() {
    const cc_t erase = console.original.c_cc[VERASE];
    const cc_t kill = console.original.c_cc[VKILL];
    const cc_t word_erase = console.original.c_cc[VWERASE];
    for (;;) {
        int key = read_byte();
        if (key < 0) {
            return false;
        }
        // A tab separates words as a blank does, and a blank is simpler to rub out.
        const char c = key == '\t' ? ' ' : static_cast<char>(key);
        if (key == '\n' || key == '\r') {
            echo("\n", 1);
            line[line_end++] = '\n';
            return true;
        }
        if ((key == erase && erase != _POSIX_VDISABLE) || key == '\b' || key == 0x7f) {
            if (line_end > line_begin) {
                rub_out();
            }
        } else if (key == kill && kill != _POSIX_VDISABLE) {
            while (line_end > line_begin) {
                rub_out();
            }
        } else if (key == word_erase && word_erase != _POSIX_VDISABLE) {
            while (line_end > line_begin && is_blank(line[line_end - 1])) {
                rub_out();
            }
            while (line_end > line_begin && !is_blank(line[line_end - 1])) {
                rub_out();
            }
        } else if (key == 0x1b) {
            skip_escape_sequence();
        } else if (key >= 0x20 || c == ' ') {
            // Room is kept for the line end.
            if (line_end < line_capacity - 1) {
                line[line_end++] = c;
                echo(&c, 1);
            }
        }
        // Other control keys (Ctrl-D among them) mean nothing to a player that only reads words.
    }
}

bool edit_line() {
    line_begin = line_end = 0;
    editing = true;
    const bool taken = edit_keys();
    editing = false;
    return taken;
}

// Reads the next line of a pipe or file into the buffer; nothing beyond its line end is taken,
// so what follows stays for getch.
bool fill_line() {
    line_begin = line_end = 0;
    while (line_end < line_capacity) {
        int byte = read_byte();
        if (byte < 0) {
            break;
        }
        line[line_end++] = static_cast<char>(byte);
        if (byte == '\n') {
            break;
        }
    }
    return line_end > 0;
}

bool next_line() {
    return console.tty ? edit_line() : fill_line();
}

} // namespace

void posix::note_output(const char *bytes, std::size_t count) {
    if (count > 0 && console.screen_fd == STDOUT_FILENO) {
        mid_line.store(bytes[count - 1] != '\n');
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            screen_line_length = 0;
        } else if (screen_line_length < sizeof screen_line) {
            screen_line[screen_line_length++] = bytes[i];
        }
    }
}

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
    show_notice_if_due();
    restore_console();
    if (!sound_stopped)
        _exit(status);
    std::exit(status);
}

int kbhit() {
    redraw_if_due();
    show_notice_if_due();
    if (returned_byte >= 0) {
        return 1;
    }
    if (input_ended) {
        return 0;
    }
    pollfd in{STDIN_FILENO, POLLIN, 0};
    // Hang-ups and errors count too: the read that follows sees them and marks the end.
    return poll(&in, 1, 0) > 0 && in.revents != 0 ? 1 : 0;
}

int getch() {
    // Straight from the keyboard or the stream: a line end still buffered does not count.
    int key = read_byte();
    if (key == 0x1b && console.tty) {
        skip_escape_sequence();
    }
    return key;
}

bool read_word(char *word, std::size_t size) {
    std::size_t stored = 0;
    bool started = false;
    for (;;) {
        if (line_begin == line_end) {
            // A word may still go on beyond a buffer that ends without a line end.
            if (!next_line()) {
                break;
            }
            continue;
        }
        char c = line[line_begin];
        if (is_blank(c)) {
            if (started) {
                break; // the blank stays buffered, as scanf leaves it
            }
            ++line_begin;
            continue;
        }
        started = true;
        ++line_begin;
        if (stored + 1 < size) {
            word[stored++] = c;
        }
    }
    if (size > 0) {
        word[stored] = '\0';
    }
    return started;
}

int read_char() {
    if (line_begin == line_end) {
        if (!console.tty) {
            return read_byte();
        }
        // A terminal hands over whole lines, so getchar waits for Enter.
        if (!edit_line()) {
            return -1;
        }
    }
    return static_cast<unsigned char>(line[line_begin++]);
}

} // namespace plat
