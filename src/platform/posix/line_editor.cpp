// The line editor on a raw terminal: echo, rub-out and the line drawn again after fg or a notice.
#include "platform/posix/line_editor.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"
#include "platform/posix/hooks.h"
#include "platform/posix/terminal.h"

namespace {

// The line being typed, between begin_line and end_line; nullptr at other times.
char *edited = nullptr;
std::size_t edited_capacity = 0;
std::size_t edited_length = 0;

// The player's output since its last line end (a prompt, usually), to draw that line again after
// fg. A longer line keeps its first part only, which is at worst a shortened redraw.
char screen_line[512];
std::size_t screen_line_length = 0;

void echo(const char *bytes, std::size_t count) {
    if (count > 0) {
        posix::terminal::set_mid_line(bytes[count - 1] != '\n');
        if (bytes[count - 1] == '\n') {
            screen_line_length = 0;
        }
    }
    posix::write_all(posix::terminal::found().echo_fd, bytes, count);
}

// After fg: the shell has written its job line, so the prompt and whatever was half typed go on a
// fresh line, as a line editor draws them.
void redraw_if_due() {
    if (!posix::terminal::take_redraw()) {
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
    if (edited != nullptr) {
        echo(edited, edited_length);
    }
}

// Takes the last letter off the line being edited, and off the screen: a whole multibyte
// letter in the locale's charset, as many columns as it took.
void rub_out() {
    const char *line = edited;
    std::size_t last = 0;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < edited_length;) {
        std::size_t length = std::mbrlen(line + at, edited_length - at, &state);
        if (length == 0 || length > edited_length - at) {
            length = 1;
            state = std::mbstate_t{};
        }
        last = at;
        at += length;
    }
    int columns = 1;
    wchar_t letter = 0;
    state = std::mbstate_t{};
    std::size_t length = std::mbrtowc(&letter, line + last, edited_length - last, &state);
    if (length != 0 && length <= edited_length - last) {
        int width = wcwidth(letter);
        columns = width >= 0 ? width : 1;
    }
    edited_length = last;
    for (int i = 0; i < columns; ++i) {
        echo("\b \b", 3);
    }
}

// Whether key is the terminal's own editing key, which may be switched off.
bool is_key(int key, cc_t editing_key) {
    return key == editing_key && editing_key != _POSIX_VDISABLE;
}

} // namespace

namespace posix::editor {

void begin_line(char *buffer, std::size_t capacity) {
    edited = buffer;
    edited_capacity = capacity;
    edited_length = 0;
}

outcome take_key(int key) {
    const terminal::setup &keys = terminal::found();
    // A tab separates words as a blank does, and a blank is simpler to rub out.
    const char c = key == '\t' ? ' ' : static_cast<char>(key);
    if (key == '\n' || key == '\r') {
        echo("\n", 1);
        edited[edited_length++] = '\n';
        return outcome::line_ended;
    }
    if (is_key(key, keys.erase) || key == '\b' || key == 0x7f) {
        if (edited_length > 0) {
            rub_out();
        }
    } else if (is_key(key, keys.kill)) {
        while (edited_length > 0) {
            rub_out();
        }
    } else if (is_key(key, keys.word_erase)) {
        while (edited_length > 0 && is_blank(edited[edited_length - 1])) {
            rub_out();
        }
        while (edited_length > 0 && !is_blank(edited[edited_length - 1])) {
            rub_out();
        }
    } else if (key == 0x1b) {
        return outcome::escape_sequence;
    } else if (key >= 0x20 || c == ' ') {
        // Room is kept for the line end.
        if (edited_length < edited_capacity - 1) {
            edited[edited_length++] = c;
            echo(&c, 1);
        }
    }
    // Other control keys (Ctrl-D among them) mean nothing to a player that only reads words.
    return outcome::more;
}

std::size_t end_line() {
    edited = nullptr;
    return edited_length;
}

void catch_up() {
    redraw_if_due();
    show_due_notice();
}

// A notice on a line of its own, and the line it broke drawn again after it on the same terminal,
// so that the prompt and what was typed are in view as before.
void show_notice(const char *notice) {
    const bool broken = isatty(STDERR_FILENO) && terminal::mid_line();
    if (broken) {
        plat::write_err("\n", 1);
    }
    plat::write_err(notice, std::strlen(notice));
    if (broken) {
        if (terminal::found().screen_fd == STDOUT_FILENO) {
            plat::write_err(screen_line, screen_line_length);
        }
        if (edited != nullptr) {
            plat::write_err(edited, edited_length);
        }
    }
}

void show_due_notice() {
    char notice[512];
    while (posix::take_notice(notice, sizeof notice)) {
        show_notice(notice);
    }
}

} // namespace posix::editor

void plat::notice(const char *line) {
    char said[1024];
    std::snprintf(said, sizeof said, "%s\n", line);
    posix::editor::show_notice(said);
}

void posix::note_output(const char *bytes, std::size_t count) {
    if (count > 0 && terminal::found().screen_fd == STDOUT_FILENO) {
        terminal::set_mid_line(bytes[count - 1] != '\n');
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            screen_line_length = 0;
        } else if (screen_line_length < sizeof screen_line) {
            screen_line[screen_line_length++] = bytes[i];
        }
    }
}
