// The line editor: a typed line echoed and edited as the terminal's cooked mode would, and the
// screen's line drawn again after a stop or a notice.
#pragma once

#include <cstddef>

namespace posix::editor {

// The white space that scanf("%s") skips; it also parts the words that word erase takes off.
inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Starts a line in buffer, which stays the editor's until end_line: what is typed into it is
// part of the screen's line, drawn again with it.
void begin_line(char *buffer, std::size_t capacity);
enum class outcome { more, line_ended, escape_sequence };
// Applies one key, echoing it: line_ended once Enter has stored the line end. An ESC that is no
// editing key begins an escape sequence, for the reader to take whole: none of it is typed.
outcome take_key(int key);
// Gives the buffer back; returns the length of what it holds.
std::size_t end_line();

// Brings the screen up to date before a look at the keyboard: after fg, the line drawn again; a
// notice from another thread, on a line of its own.
void catch_up();
// The notice alone, for a way out.
void show_due_notice();
// A line ended by a line end, on a line of its own on the screen, the screen's line drawn again.
void show_notice(const char *notice);

} // namespace posix::editor
