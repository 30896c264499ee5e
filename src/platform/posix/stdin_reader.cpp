// Standard input on Linux, read as stdio's scanf and getchar and the console's _getch and _kbhit
// would: a terminal's lines come through the line editor, a pipe's or a file's as they are.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/line_editor.h"
#include "platform/posix/terminal.h"

namespace {

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
        // The wait ends at a continue too, even one that lands just before it, and the line is
        // drawn again before the next key.
        posix::editor::catch_up();
        if (!posix::terminal::wait_for_input()) {
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

// Reads one line from the terminal, echoed and edited, and leaves it, line end included, as the
// buffered line.
bool edit_line() {
    using posix::editor::outcome;
    line_begin = line_end = 0;
    posix::editor::begin_line(line, line_capacity);
    bool taken = false;
    for (int key = read_byte(); key >= 0; key = read_byte()) {
        const outcome taking = posix::editor::take_key(key);
        if (taking == outcome::line_ended) {
            taken = true;
            break;
        }
        if (taking == outcome::escape_sequence) {
            skip_escape_sequence();
        }
    }
    line_end = posix::editor::end_line();
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
    return posix::terminal::found().tty ? edit_line() : fill_line();
}

} // namespace

namespace plat {

int kbhit() {
    posix::editor::catch_up();
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
    if (key == 0x1b && posix::terminal::found().tty) {
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
        if (posix::editor::is_blank(c)) {
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
        if (!posix::terminal::found().tty) {
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
