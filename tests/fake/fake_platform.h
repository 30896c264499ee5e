// A scriptable platform for the tests: virtual clock, typed keys, a fake folder, recorded MCI
// calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// Virtual time starts on this whole second; the tests give times in ms after it.
constexpr std::int64_t start_ms = 1'700'000'000'000;

// Thrown by exit_process, carrying the status.
struct exited {
    int status;
};

// What the program did since the last reset.
struct record {
    // "WHAT@SECONDS" after the start, separated by blanks: a file opened (its name without
    // ".wav"), "char" (a character read), then "exitN" or "halt".
    std::string events;
    std::string output; // everything written to standard output
    // Each MCI command as a line, e.g. "open 0 0x2200 waveaudio a.wav", "close 1 0".
    std::string mci;
    std::string errors;  // everything written to standard error
    std::string entered; // the folder made current; one whose name begins with "/no" is not there
};
extern record seen;

// A fresh world: the folder search reports those of these names that match its patterns, in this
// order, a file opens unless its name begins with "bad" and then lasts length_ms, nothing is
// typed, the console title is "console".
void reset(std::vector<std::string> folder = {}, std::uint32_t length_ms = 3000);
// Bytes typed on the keyboard, arriving at the given time.
void type_at(std::int64_t ms, const std::string &bytes);
// Runs player_main, with -a or without, and halts it when it goes to open a file after `opens`:
// its status, or -1 when halted.
int run_main(int opens, bool all = false);
// The folder search is closed and the console title is what it was.
bool left_as_found();

} // namespace fake
