// The Windows platform: console runtime, directory search, clock, window lookup and output.
#include "platform/platform.h"
#include "platform/wildcard.h"
#include "platform/windows/text.h"

#include <conio.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include <windows.h>

namespace plat {

namespace {

constexpr std::size_t longest_name = 255; // what a track-list entry holds, besides its zero

// What standard output has written since its last line end: the prompt, usually.
char screen_line[512];
std::size_t screen_line_length = 0;

// The name fits the caller's record and a track-list entry; longer ones are skipped, not cut,
// so that a cut name never reaches the MCI open under a name that does not exist.
bool copy_if_fits(const WIN32_FIND_DATAA &native, find_data *found) {
    std::size_t length = std::strlen(native.cFileName);
    if (length > longest_name) {
        return false;
    }
    std::memcpy(found->cFileName, native.cFileName, length + 1);
    return true;
}

bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// _kbhit and _getch read the console's own input buffer, whatever standard input is.
bool console_input_present() {
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(in);
    return true;
}

} // namespace

// The runtime's console functions need no preparation: line input, echo and the code pages
// are the console's own settings, and the player must not change them for the user.
void console_open() {}

void exit_process(int status) {
    std::exit(status);
}

bool enter_folder(const char *path, char *reason, std::size_t size) {
    // A folder that can be entered but not listed would only play as an empty one.
    WIN32_FIND_DATAA any;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (SetCurrentDirectoryA(path) &&
        (search = FindFirstFileA("*", &any)) != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return true;
    }
    const DWORD error = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reason, static_cast<DWORD>(size), nullptr);
    // The system's words end in a full stop and a line end, which the caller's line has already.
    while (length > 0 && (reason[length - 1] == '\n' || reason[length - 1] == '\r' ||
                          reason[length - 1] == '.')) {
        reason[--length] = '\0';
    }
    if (length == 0) {
        std::snprintf(reason, size, "error %lu", static_cast<unsigned long>(error));
    }
    return false;
}

// The volume gives its own order, one name at a time, so no more than the caller takes is read.
// FindFirstFile takes one pattern: a list is matched here against every name of the folder, so
// that its matches still come in that one order, each once.
namespace {

struct search {
    HANDLE handle;
    std::string patterns; // empty: FindFirstFile's own pattern is all there is to match
};

bool take_if_wanted(const search &s, const WIN32_FIND_DATAA &native, find_data *found) {
    return (s.patterns.empty() || wildcard_match_any(s.patterns.c_str(), native.cFileName)) &&
           copy_if_fits(native, found);
}

} // namespace

find_handle find_first(const char *pattern, find_data *found, std::size_t) {
    const bool list = std::strchr(pattern, ';') != nullptr;
    WIN32_FIND_DATAA native;
    HANDLE handle = FindFirstFileA(list ? "*" : pattern, &native);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    search *s = nullptr;
    try {
        s = new search{handle, list ? pattern : ""};
    } catch (const std::bad_alloc &) {
        FindClose(handle);
        return nullptr;
    }
    if (!take_if_wanted(*s, native, found) && !find_next(s, found)) {
        find_close(s);
        return nullptr;
    }
    return s;
}

bool find_next(find_handle search_handle, find_data *found) {
    const auto *s = static_cast<const search *>(search_handle);
    WIN32_FIND_DATAA native;
    do {
        if (!FindNextFileA(s->handle, &native)) {
            return false;
        }
    } while (!take_if_wanted(*s, native, found));
    return true;
}

void find_close(find_handle search_handle) {
    if (search_handle != nullptr) {
        auto *s = static_cast<search *>(search_handle);
        FindClose(s->handle);
        delete s;
    }
}

int kbhit() {
    return _kbhit();
}

int getch() {
    // Without a console _getch has nothing to wait for; -1 lets the caller go on.
    if (!console_input_present()) {
        return -1;
    }
    int key = _getch();
    // Arrow and function keys arrive as two codes; both belong to the one key press, and the
    // second must not be left for _kbhit to report as a new key.
    if (key == 0 || key == 0xE0) {
        _getch();
    }
    return key;
}

bool read_word(char *word, std::size_t size) {
    int c = std::getchar();
    while (c != EOF && is_blank(c)) {
        c = std::getchar();
    }
    bool began = c != EOF;
    std::size_t length = 0;
    while (c != EOF && !is_blank(c)) {
        if (length + 1 < size) {
            word[length++] = static_cast<char>(c);
        }
        c = std::getchar();
    }
    // Like scanf, the white space that ended the word stays for the next read.
    if (c != EOF) {
        std::ungetc(c, stdin);
    }
    if (size > 0) {
        word[length] = '\0';
    }
    return began;
}

int read_char() {
    int c = std::getchar();
    return c == EOF ? -1 : c;
}

void write_out(const char *bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            screen_line_length = 0;
        } else if (screen_line_length < sizeof screen_line) {
            screen_line[screen_line_length++] = bytes[i];
        }
    }
    std::fwrite(bytes, 1, count, stdout);
    std::fflush(stdout);
}

void notify(const char *line) {
    static bool told = false;
    if (told) {
        return;
    }
    told = true;
    notice(line);
}

void notice(const char *line) {
    DWORD mode = 0;
    const bool broken =
        GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) && screen_line_length > 0;
    std::fprintf(stderr, "%s%s\n", broken ? "\n" : "", line);
    if (broken) {
        std::fwrite(screen_line, 1, screen_line_length, stderr);
    }
    std::fflush(stderr);
}

void write_err(const char *bytes, std::size_t count) {
    std::fwrite(bytes, 1, count, stderr);
    std::fflush(stderr);
}

void write_text(const char *utf8) {
    std::string text = text_in_code_page(utf8, text_code_page());
    write_out(text.data(), text.size());
}

unsigned text_code_page() {
    DWORD mode = 0;
    // A file or pipe gets the texts as their own Shift-JIS bytes: recoded to a Western ANSI code
    // page they would turn into '?' for good, while a Japanese-aware reader shows them later.
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
        return shift_jis;
    }
    UINT console = GetConsoleOutputCP();
    return console != 0 ? console : GetACP();
}

std::string text_in_code_page(const char *utf8, unsigned code_page) {
    // A code page that Windows cannot convert to gets the text as it is rather than nothing.
    if (code_page == CP_UTF8) {
        return utf8;
    }
    int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (wide_length <= 0) {
        return utf8;
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), wide_length);
    int length = WideCharToMultiByte(code_page, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return utf8;
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, wide.c_str(), -1, text.data(), length, nullptr, nullptr);
    text.pop_back(); // the terminating zero that the -1 lengths carried along
    return text;
}

std::int64_t now_seconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

void sleep_ms(unsigned ms) {
    Sleep(ms);
}

unsigned console_title_get(char *title, unsigned size) {
    return GetConsoleTitleA(title, size);
}

void console_title_set(const char *title) {
    SetConsoleTitleA(title);
}

window find_window(const char *title) {
    return FindWindowA(nullptr, title);
}

std::uint32_t tick_count() {
    return GetTickCount();
}

std::uint32_t current_process_id() {
    return GetCurrentProcessId();
}

} // namespace plat
