// A scriptable platform for the tests: virtual clock, typed input, a fake folder, recorded MCI
// calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// Thrown by exit_process, carrying the status.
struct exited {
    int status;
};
// Thrown when a test's play budget runs out, so a run that would go on forever can be stopped.
struct halted {};

struct mci_call {
    std::uint32_t device = 0;
    std::uint32_t message = 0;
    std::uintptr_t flags = 0;
    bool has_params = false;
    std::string device_type; // open
    std::string element;     // open
    std::uintptr_t callback = 0;
    std::uint32_t from = 0; // play
    std::uint32_t item = 0; // status
};

// Brings every scripted and recorded thing back to its initial state.
void reset();

// Folder: the names the search reports, in this order.
void set_folder(std::vector<std::string> names);
// Makes the search fail after it has reported this many names.
void fail_search_after(int names);
// How many names the program has been handed; whether the search is still open.
int names_reported();
bool search_open();

// Clock, in virtual milliseconds; it moves when the program sleeps or waits for typing.
void set_clock_ms(std::int64_t ms);
std::int64_t clock_ms();

// Typed input: the bytes arrive on standard input at the given virtual time.
void type_at(std::int64_t ms, const std::string &bytes);

// Everything written to standard output, texts included.
const std::string &output();
// The program's own texts, as handed to write_text.
const std::vector<std::string> &texts();

// A log of the calls that touch time and input: "kbhit0", "kbhit1", "sleep200", "word",
// "getch", "char", "open NAME".
const std::vector<std::string> &trace();

// MCI: the length each file reports, files whose open fails, and every command received.
void set_length_ms(const std::string &element, std::uint32_t ms);
void set_default_length_ms(std::uint32_t ms);
void fail_open(const std::string &element);
const std::vector<mci_call> &mci_calls();
// The same calls as text, e.g. "open 0 0x2200 waveaudio song.wav", "play 1 0x5 from 0 to 0x77",
// "status 1 0x100 item 1", "close 1 0x0".
std::vector<std::string> mci_log();
// Element names in the order they were opened.
std::vector<std::string> opened();
// Devices open now.
int open_devices();

// Console title and window.
void set_title(const std::string &title, bool readable = true);
const std::string &title();
std::vector<std::string> titles_set();
void *console_window_handle();
void set_ids(std::uint32_t tick, std::uint32_t pid);

// Stops the run when the program goes to open a track after this many.
void set_play_budget(int tracks);

// Runs the player's main routine; returns its status, or -1 when the play budget ran out.
int run_main();
// Whether the last run ended through exit_process rather than by returning.
bool ended_by_exit();

} // namespace fake
