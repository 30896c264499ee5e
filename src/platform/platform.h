// The few operating-system services the player uses, as plain functions; one implementation is
// linked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/mci.h"

namespace plat {

// ---- Process ---------------------------------------------------------------

// Prepares the console for the player (terminal mode, signal handling); called once by main.
void console_open();

// Ends the process with the status, restoring whatever console_open changed.
[[noreturn]] void exit_process(int status);

// Makes path the current folder, as if the player had been started there. False when it does not
// exist or cannot be listed, with the system's words for why in reason.
bool enter_folder(const char *path, char *reason, std::size_t size);

// ---- Directory search ------------------------------------------------------

// One match of a search, as WIN32_FIND_DATAA's cFileName: the bare name, zero-terminated.
// Names that do not fit (longer than 259 bytes) are never reported.
struct find_data {
    char cFileName[260];
};

using find_handle = void *; // nullptr: no search

// Begins a search of the current folder for a pattern such as "*.wav", or for a list of them
// separated by ';' ("*.wav;*.mp3", as PathMatchSpec takes), matched without regard to ASCII
// letter case ('*' any run of bytes, '?' any one; platform/wildcard.h); fills the first match.
// nullptr when nothing matches or on failure. A name that matches any pattern of a list comes
// once, and all come in one order: the volume's name order, as NTFS keeps it, letters compared
// without case. The caller takes at most `most` of them; Linux, whose folders have no order,
// reads the whole folder to sort it, and keeps only that many. Windows matches a single pattern
// with FindFirstFile's own rules, which also try a file's short name.
find_handle find_first(const char *pattern, find_data *found, std::size_t most);
// Fills the next match; false when there is none or on failure.
bool find_next(find_handle search, find_data *found);
void find_close(find_handle search);

// ---- Keyboard and standard input -------------------------------------------

// Nonzero when a key press is waiting; neither blocks nor consumes it (_kbhit).
int kbhit();

// Waits for one key press and returns it, without echo, reading the keyboard itself rather
// than what standard input has already buffered (_getch). Returns -1 when input has ended.
int getch();

// Reads one word as scanf("%s") does: skips leading white space (line ends included), then
// takes the bytes up to the next white space, leaving the rest of the line buffered.
// At most size - 1 bytes are stored, zero-terminated; the rest of a longer word is read
// and dropped. Returns false, with word empty, when input ends before a word begins.
bool read_word(char *word, std::size_t size);

// Reads one byte from standard input, buffered line first (getchar). -1 at the end of input.
int read_char();

// ---- Output ----------------------------------------------------------------

// Writes bytes to standard output as they are, visible at once.
void write_out(const char *bytes, std::size_t count);

// Writes a text of the program's own, given in UTF-8, in the console's character set.
void write_text(const char *utf8);

// Writes bytes to standard error as they are: the complaints of a run that cannot begin.
void write_err(const char *bytes, std::size_t count);

// Says one line on standard error, from the player's own thread, such as the word that a listed
// track cannot be played; every call says its line. On a console it gets a line of its own, and
// the line it broke (the prompt) is drawn again after it.
void notice(const char *line);

// ---- Time ------------------------------------------------------------------

// Calendar time in whole seconds (time()); Linux leaves out the time spent stopped by Ctrl-Z.
std::int64_t now_seconds();

// Sleeps for the given milliseconds (Sleep).
void sleep_ms(unsigned ms);

// ---- Console window --------------------------------------------------------

using window = void *; // HWND

// Copies the console's title into title (GetConsoleTitleA); returns its length, 0 on failure.
unsigned console_title_get(char *title, unsigned size);
void console_title_set(const char *title);
// The top-level window whose title is exactly title, or nullptr (FindWindowA).
window find_window(const char *title);
// Milliseconds since the system started (GetTickCount), wrapping every 49.7 days; Linux leaves out
// the time spent stopped by Ctrl-Z, as now_seconds does.
std::uint32_t tick_count();
std::uint32_t current_process_id(); // GetCurrentProcessId

// ---- Multimedia ------------------------------------------------------------

// Sends one MCI command (mciSendCommandA): params points to the record the message takes,
// or is 0 for close, pause and resume. Returns 0 on success or an MCI error code.
mci::error mci_send(mci::device_id device, std::uint32_t message, mci::dword_ptr flags,
                    mci::dword_ptr params);

// The words for an MCI error (mciGetErrorString). Linux gives, for the last open that failed, the
// reason it found (the system's words, or what the file is not); false for a code it has no
// words for.
bool mci_error_text(mci::error error, char *text, std::size_t size);

} // namespace plat
