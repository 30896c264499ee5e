// The fake platform's implementation of platform.h, driven by the scripts the tests set.
#include "fake/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "device/device.h"
#include "platform/platform.h"
#include "player/player.h"

namespace {

struct typed_byte {
    std::int64_t at;
    char byte;
};

struct world {
    std::vector<std::string> folder;
    int fail_after = -1;
    std::size_t next_name = 0;
    int reported = 0;
    bool searching = false;

    std::int64_t now = 1'700'000'000'000;
    std::int64_t start = now;

    std::vector<typed_byte> typed;
    std::size_t consumed = 0; // bytes taken from the keyboard into the line buffer or by getch
    std::string line;         // what standard input has buffered and not yet handed out

    std::string out;
    std::vector<std::string> texts;
    std::vector<std::string> trace;

    std::map<std::string, std::uint32_t> lengths;
    std::uint32_t default_length = 3000;
    std::set<std::string> failing;
    std::vector<fake::mci_call> calls;
    std::map<mci::device_id, std::string> devices;
    mci::device_id next_id = 1;
    int budget = 1000;

    std::string title = "console";
    bool title_readable = true;
    std::vector<std::string> titles_set;
    std::uint32_t tick = 123456;
    std::uint32_t pid = 4242;

    bool by_exit = false;
};

world w;
void *const the_window = reinterpret_cast<void *>(0x4d2);

// Waiting for typing lets virtual time pass up to the moment the byte arrives.
void arrive(const typed_byte &b) {
    w.now = std::max(w.now, b.at);
}

// Refills standard input's buffer with the next typed line, as a console read does.
bool pull_line() {
    if (w.consumed >= w.typed.size())
        return false;
    while (w.consumed < w.typed.size()) {
        const typed_byte &b = w.typed[w.consumed++];
        arrive(b);
        w.line.push_back(b.byte);
        if (b.byte == '\n')
            break;
    }
    return true;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Next byte of standard input, refilling the buffer as needed; -1 at the end.
int next_input_byte() {
    if (w.line.empty() && !pull_line())
        return -1;
    unsigned char c = static_cast<unsigned char>(w.line.front());
    w.line.erase(0, 1);
    return c;
}

int peek_input_byte() {
    if (w.line.empty() && !pull_line())
        return -1;
    return static_cast<unsigned char>(w.line.front());
}

void guard_runaway() {
    // Nine virtual days without the test's budget stopping the run means the loop is stuck.
    if (w.now - w.start > 9LL * 24 * 3600 * 1000)
        throw fake::halted{};
}

} // namespace

namespace fake {

void reset() {
    close_device(); // the device module keeps its identifier between runs
    w = world{};
}
void set_folder(std::vector<std::string> names) {
    w.folder = std::move(names);
}
void fail_search_after(int names) {
    w.fail_after = names;
}
int names_reported() {
    return w.reported;
}
bool search_open() {
    return w.searching;
}
void set_clock_ms(std::int64_t ms) {
    w.now = w.start = ms;
}
std::int64_t clock_ms() {
    return w.now;
}
void type_at(std::int64_t ms, const std::string &bytes) {
    for (char c : bytes)
        w.typed.push_back({ms, c});
}
const std::string &output() {
    return w.out;
}
const std::vector<std::string> &texts() {
    return w.texts;
}
const std::vector<std::string> &trace() {
    return w.trace;
}
void set_length_ms(const std::string &element, std::uint32_t ms) {
    w.lengths[element] = ms;
}
void set_default_length_ms(std::uint32_t ms) {
    w.default_length = ms;
}
void fail_open(const std::string &element) {
    w.failing.insert(element);
}
const std::vector<mci_call> &mci_calls() {
    return w.calls;
}
std::vector<std::string> mci_log() {
    std::vector<std::string> lines;
    for (const mci_call &c : w.calls) {
        char line[512];
        const char *names[] = {"open", "close", "play", "pause", "status", "resume"};
        const std::uint32_t messages[] = {mci::open,  mci::close,  mci::play,
                                          mci::pause, mci::status, mci::resume};
        const char *name = "?";
        for (int i = 0; i < 6; ++i)
            if (messages[i] == c.message)
                name = names[i];
        int n = std::snprintf(line, sizeof line, "%s %u %#x", name, c.device,
                              static_cast<unsigned>(c.flags));
        if (c.message == mci::open)
            std::snprintf(line + n, sizeof line - n, " %s %s", c.device_type.c_str(),
                          c.element.c_str());
        else if (c.message == mci::play)
            std::snprintf(line + n, sizeof line - n, " from %u to %#lx", c.from,
                          static_cast<unsigned long>(c.callback));
        else if (c.message == mci::status)
            std::snprintf(line + n, sizeof line - n, " item %u", c.item);
        else if (c.has_params)
            std::snprintf(line + n, sizeof line - n, " with parameters");
        lines.emplace_back(line);
    }
    return lines;
}
std::vector<std::string> opened() {
    std::vector<std::string> names;
    for (const mci_call &c : w.calls)
        if (c.message == mci::open && !w.failing.count(c.element))
            names.push_back(c.element);
    return names;
}
int open_devices() {
    return static_cast<int>(w.devices.size());
}
void set_title(const std::string &title, bool readable) {
    w.title = title;
    w.title_readable = readable;
}
const std::string &title() {
    return w.title;
}
std::vector<std::string> titles_set() {
    return w.titles_set;
}
void *console_window_handle() {
    return the_window;
}
void set_ids(std::uint32_t tick, std::uint32_t pid) {
    w.tick = tick;
    w.pid = pid;
}
void set_play_budget(int tracks) {
    w.budget = tracks;
}

int run_main() {
    w.by_exit = false;
    try {
        return player_main();
    } catch (const exited &e) {
        w.by_exit = true;
        return e.status;
    } catch (const halted &) {
        return -1;
    }
}
bool ended_by_exit() {
    return w.by_exit;
}

} // namespace fake

namespace plat {

void console_open() {}

void exit_process(int status) {
    throw fake::exited{status};
}

find_handle find_first(const char *, find_data *found) {
    w.next_name = 0;
    w.searching = true;
    if (!find_next(&w, found)) {
        w.searching = false;
        return nullptr;
    }
    return &w;
}

bool find_next(find_handle, find_data *found) {
    if (w.next_name >= w.folder.size() || w.reported == w.fail_after)
        return false;
    const std::string &name = w.folder[w.next_name++];
    ++w.reported;
    // As the real search does, a name that does not fit the record is not reported.
    if (name.size() >= sizeof found->cFileName)
        return find_next(&w, found);
    std::memcpy(found->cFileName, name.c_str(), name.size() + 1);
    return true;
}

void find_close(find_handle) {
    w.searching = false;
}

int kbhit() {
    bool waiting = w.consumed < w.typed.size() && w.typed[w.consumed].at <= w.now;
    w.trace.push_back(waiting ? "kbhit1" : "kbhit0");
    return waiting ? 1 : 0;
}

int getch() {
    w.trace.push_back("getch");
    if (w.consumed >= w.typed.size())
        return -1;
    const typed_byte &b = w.typed[w.consumed++];
    arrive(b);
    return static_cast<unsigned char>(b.byte);
}

bool read_word(char *word, std::size_t size) {
    w.trace.push_back("word");
    int c = peek_input_byte();
    while (c != -1 && is_space(static_cast<char>(c))) {
        next_input_byte();
        c = peek_input_byte();
    }
    std::size_t n = 0;
    while (c != -1 && !is_space(static_cast<char>(c))) {
        next_input_byte();
        if (n + 1 < size)
            word[n++] = static_cast<char>(c);
        c = peek_input_byte();
    }
    word[n] = '\0';
    return n > 0;
}

int read_char() {
    w.trace.push_back("char");
    return next_input_byte();
}

void write_out(const char *bytes, std::size_t count) {
    w.out.append(bytes, count);
}

void write_text(const char *utf8) {
    w.out.append(utf8);
    w.texts.emplace_back(utf8);
}

std::int64_t now_seconds() {
    return w.now / 1000;
}

void sleep_ms(unsigned ms) {
    w.trace.push_back("sleep" + std::to_string(ms));
    w.now += ms;
    guard_runaway();
}

unsigned console_title_get(char *title, unsigned size) {
    if (!w.title_readable || size == 0)
        return 0;
    std::size_t n = std::min<std::size_t>(w.title.size(), size - 1);
    std::memcpy(title, w.title.data(), n);
    title[n] = '\0';
    return static_cast<unsigned>(n);
}

void console_title_set(const char *title) {
    w.title = title;
    w.titles_set.emplace_back(title);
}

window find_window(const char *title) {
    return w.title == title ? the_window : nullptr;
}
std::uint32_t tick_count() {
    return w.tick;
}
std::uint32_t current_process_id() {
    return w.pid;
}

mci::error mci_send(mci::device_id device, std::uint32_t message, mci::dword_ptr flags,
                    mci::dword_ptr params) {
    fake::mci_call call;
    call.device = device;
    call.message = message;
    call.flags = flags;
    call.has_params = params != 0;
    switch (message) {
    case mci::open: {
        auto *p = reinterpret_cast<mci::open_parms *>(params);
        call.device_type = p->lpstrDeviceType;
        call.element = p->lpstrElementName;
        if (!w.failing.count(call.element) && static_cast<int>(fake::opened().size()) == w.budget)
            throw fake::halted{};
        w.calls.push_back(call);
        w.trace.push_back("open " + call.element);
        if (w.failing.count(call.element))
            return mci::err_file_not_found;
        p->wDeviceID = w.next_id++;
        w.devices[p->wDeviceID] = call.element;
        return 0;
    }
    case mci::play: {
        auto *p = reinterpret_cast<mci::play_parms *>(params);
        call.callback = p->dwCallback;
        call.from = p->dwFrom;
        w.calls.push_back(call);
        return w.devices.count(device) ? 0 : mci::err_invalid_device_id;
    }
    case mci::status: {
        auto *p = reinterpret_cast<mci::status_parms *>(params);
        call.item = p->dwItem;
        w.calls.push_back(call);
        auto open = w.devices.find(device);
        if (open == w.devices.end())
            return mci::err_invalid_device_id;
        auto known = w.lengths.find(open->second);
        p->dwReturn = known == w.lengths.end() ? w.default_length : known->second;
        return 0;
    }
    case mci::close:
        w.calls.push_back(call);
        return w.devices.erase(device) ? 0 : mci::err_invalid_device_id;
    default:
        w.calls.push_back(call);
        return w.devices.count(device) ? 0 : mci::err_invalid_device_id;
    }
}

} // namespace plat
