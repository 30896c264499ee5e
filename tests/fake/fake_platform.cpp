// The fake platform's implementation of platform.h, driven by what the tests script.
#include "fake/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "device/device.h"
#include "platform/platform.h"
#include "platform/wildcard.h"
#include "player/player.h"

fake::record fake::seen;

namespace {

// Thrown when the budget of opens runs out, or when a run goes on for a virtual day.
struct halted {};

struct key {
    std::int64_t at;
    char byte;
};

struct world {
    std::vector<std::string> folder;
    std::string pattern;
    std::size_t next_name = 0;
    bool searching = false;
    std::uint32_t length = 0;
    std::int64_t now = 0; // ms after fake::start_ms
    std::vector<key> keys;
    std::size_t taken = 0; // keys already in standard input's buffer or read by getch
    std::string line;      // standard input's buffer
    int budget = 0;
    int opens = 0;
    mci::device_id next_id = 1;
    mci::device_id open_id = 0;
    std::string title = "console";
};

world w;
void *const console_window = reinterpret_cast<void *>(0x4d2);

void event(const std::string &what) {
    char at[32];
    std::snprintf(at, sizeof at, "@%g", static_cast<double>(w.now) / 1000);
    fake::seen.events += (fake::seen.events.empty() ? "" : " ") + what + at;
}

// Waiting for a key lets virtual time run on to its arrival.
char take_key() {
    const key &k = w.keys[w.taken++];
    w.now = std::max(w.now, k.at);
    return k.byte;
}

// The next byte of standard input, which a console fills one whole typed line at a time.
int input_byte(bool take) {
    if (w.line.empty()) {
        while (w.taken < w.keys.size() && (w.line += take_key()).back() != '\n') {
        }
    }
    if (w.line.empty())
        return -1;
    int c = static_cast<unsigned char>(w.line[0]);
    if (take)
        w.line.erase(0, 1);
    return c;
}

} // namespace

namespace fake {

void reset(std::vector<std::string> folder, std::uint32_t length_ms) {
    close_device(); // the device module keeps its identifier between runs
    w = world{};
    w.folder = std::move(folder);
    w.length = length_ms;
    seen = record{};
}
void type_at(std::int64_t ms, const std::string &bytes) {
    for (char c : bytes)
        w.keys.push_back({ms, c});
}
int run_main(int opens, bool all) {
    w.budget = opens;
    int status;
    try {
        status = player_main(all);
    } catch (const exited &e) {
        status = e.status;
    } catch (const halted &) {
        event("halt");
        return -1;
    }
    event("exit" + std::to_string(status));
    return status;
}
bool left_as_found() {
    return !w.searching && w.title == "console";
}

} // namespace fake

namespace plat {

void console_open() {}

void exit_process(int status) {
    throw fake::exited{status};
}

find_handle find_first(const char *pattern, find_data *found, std::size_t) {
    w.pattern = pattern;
    w.next_name = 0;
    w.searching = find_next(&w, found);
    return w.searching ? &w : nullptr;
}

bool find_next(find_handle, find_data *found) {
    while (w.next_name < w.folder.size()) {
        const std::string &name = w.folder[w.next_name++];
        if (wildcard_match_any(w.pattern.c_str(), name.c_str())) {
            std::snprintf(found->cFileName, sizeof found->cFileName, "%s", name.c_str());
            return true;
        }
    }
    return false;
}

void find_close(find_handle) {
    w.searching = false;
}

int kbhit() {
    return w.taken < w.keys.size() && w.keys[w.taken].at <= w.now;
}

int getch() {
    return w.taken < w.keys.size() ? static_cast<unsigned char>(take_key()) : -1;
}

bool read_word(char *word, std::size_t size) {
    while (input_byte(false) != -1 && std::isspace(input_byte(false)))
        input_byte(true);
    std::size_t n = 0;
    for (int c; (c = input_byte(false)) != -1 && !std::isspace(c); input_byte(true)) {
        if (n + 1 < size)
            word[n++] = static_cast<char>(c);
    }
    word[n] = '\0';
    return n > 0;
}

int read_char() {
    int c = input_byte(true);
    event("char");
    return c;
}

void write_out(const char *bytes, std::size_t count) {
    fake::seen.output.append(bytes, count);
}

void write_err(const char *bytes, std::size_t count) {
    fake::seen.errors.append(bytes, count);
}

void notice(const char *line) {
    fake::seen.errors.append(line).append("\n");
}

bool enter_folder(const char *path, char *reason, std::size_t size) {
    fake::seen.entered = path;
    std::snprintf(reason, size, "No such file or directory");
    return fake::seen.entered.rfind("/no", 0) != 0;
}

void write_text(const char *utf8) {
    fake::seen.output.append(utf8);
}

std::int64_t now_seconds() {
    return (fake::start_ms + w.now) / 1000;
}

void sleep_ms(unsigned ms) {
    w.now += ms;
    if (w.now > 24 * 3600 * 1000)
        throw halted{};
}

unsigned console_title_get(char *title, unsigned size) {
    return static_cast<unsigned>(std::snprintf(title, size, "%s", w.title.c_str()));
}

void console_title_set(const char *title) {
    w.title = title;
}

window find_window(const char *title) {
    return w.title == title ? console_window : nullptr;
}

std::uint32_t tick_count() {
    return static_cast<std::uint32_t>(fake::start_ms + w.now);
}

std::uint32_t current_process_id() {
    return 4242;
}

bool mci_error_text(mci::error error, char *text, std::size_t size) {
    std::snprintf(text, size, "MCI error %u", static_cast<unsigned>(error));
    return true;
}

mci::error mci_send(mci::device_id device, std::uint32_t message, mci::dword_ptr flags,
                    mci::dword_ptr params) {
    const bool known = device != 0 && device == w.open_id;
    const char *name = message == mci::open     ? "open"
                       : message == mci::play   ? "play"
                       : message == mci::status ? "status"
                       : message == mci::close  ? "close"
                       : message == mci::pause  ? "pause"
                       : message == mci::resume ? "resume"
                                                : "other";
    char line[512];
    int n = std::snprintf(line, sizeof line, "%s %u %#x", name, static_cast<unsigned>(device),
                          static_cast<unsigned>(flags));
    mci::error result = known ? 0 : mci::err_invalid_device_id;
    if (message == mci::open) {
        auto *p = reinterpret_cast<mci::open_parms *>(params);
        if (w.opens++ == w.budget)
            throw halted{};
        std::string element = p->lpstrElementName;
        std::size_t wav = element.size() >= 4 ? element.size() - 4 : 0;
        event(element.compare(wav, 4, ".wav") == 0 ? element.substr(0, wav) : element);
        std::snprintf(line + n, sizeof line - n, " %s %s", p->lpstrDeviceType, element.c_str());
        result = element.rfind("bad", 0) == 0 ? mci::err_file_not_found : 0;
        if (result == 0)
            p->wDeviceID = w.open_id = w.next_id++;
    } else if (message == mci::play) {
        auto *p = reinterpret_cast<mci::play_parms *>(params);
        std::snprintf(line + n, sizeof line - n, " from %u to %#lx",
                      static_cast<unsigned>(p->dwFrom), static_cast<unsigned long>(p->dwCallback));
    } else if (message == mci::status) {
        auto *p = reinterpret_cast<mci::status_parms *>(params);
        std::snprintf(line + n, sizeof line - n, " item %u", static_cast<unsigned>(p->dwItem));
        if (known && p->dwItem == mci::status_length)
            p->dwReturn = w.length;
    } else if (params) {
        std::snprintf(line + n, sizeof line - n, " with parameters");
    }
    fake::seen.mci += line + std::string("\n");
    if (known && message == mci::close)
        w.open_id = 0;
    return result;
}

} // namespace plat
