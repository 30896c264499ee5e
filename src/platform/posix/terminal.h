// The terminal's mode and the ways out, as the line editor and the keyboard reader see them.
#pragma once

#include <termios.h>
#include <unistd.h>

namespace posix::terminal {

// What console_open found. Set before any signal handler is installed and never changed after,
// so that the handlers may read it on whichever thread they run.
struct setup {
    // Standard input is a terminal: lines are typed and edited on it, in our own mode.
    bool tty = false;
    // Where the letters typed are echoed: the terminal read from, even when output is redirected.
    int echo_fd = STDOUT_FILENO;
    // The terminal that the player's output and echo land on, or -1 when neither does.
    int screen_fd = -1;
    // The terminal's own editing keys, or _POSIX_VDISABLE.
    cc_t erase = 0;
    cc_t kill = 0;
    cc_t word_erase = 0;
};
const setup &found();

// Whether the screen's cursor is past the start of a line: every way out then ends that line, so
// that a shell's prompt never lands after it.
void set_mid_line(bool mid_line);
bool mid_line();

// True once after the player comes back from a stop with the terminal in our mode again: the
// line it was on is to be drawn anew.
bool take_redraw();

// Waits until standard input has a byte, or a hang-up or error to report (true), or until a
// continue, a notice or a signal ends the wait (false): the screen may then need drawing first.
bool wait_for_input();

} // namespace posix::terminal
