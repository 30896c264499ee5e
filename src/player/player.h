// The player: track list, playback loop and command dispatch, with the loop state they share.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int max_tracks = 50;
constexpr int entry_size = 256;

// Fifty zero-terminated names, ended by the end mark unless all fifty hold names.
using track_list = char[max_tracks][entry_size];

extern const char end_mark[]; // "else no"

// Fills the list with the folder's *.wav names, or with all (-a) those of every playable format.
void scan_tracks(track_list &filelist, bool all);
int is_end_mark(const char *entry);
int count_tracks(const track_list &filelist);
void list_tracks(const track_list &filelist);
void print_prompt(const char *entry);

// Shuffle modes.
constexpr std::int32_t in_turn = 0;
constexpr std::int32_t random_pick = 1;
// Random, but the index in hand plays once more without a pick.
constexpr std::int32_t keep_next = 2;

// What the play cycle, the wait and the command dispatch share; the flags are 0 or 1.
struct loop_state {
    track_list filelist;            // the names found, in the folder's name order
    std::int32_t count = 0;         // how many of them there are
    std::int32_t index = 0;         // the entry playing; a command sets it one short of its aim
    std::int32_t shuffle = in_turn; // in_turn, random_pick or keep_next
    std::int32_t repeat_one = 0;    // `loop`: the cycle's step is taken back, replaying the entry
    std::int32_t no_wrap = 0;       // `alloop`: the run ends after the last entry, not wrapping
    std::int32_t skip = 0;          // a command (next, before, a number) ends the track now
    std::int32_t code = 0;          // the command code just read, 0 once acted on
    // When the track began, by the whole-second clock; at its full width, right after 2038.
    std::int64_t start = 0;
    // Paused time that has not yet moved the start on, under half a second either way: a pause
    // moves it by whole seconds, and the rest goes with the next pause of the track.
    std::int64_t paused_ms = 0;
    std::int32_t length = 0;       // the track's length in whole seconds
    plat::window window = nullptr; // the console's window, which the device's notices go to
    bool all = false;              // -a: every playable format, in any letter case
};

// Reads one command word and applies its code to the loop state.
void command_handoff(loop_state &state);
// Applies state.code to the loop state.
void dispatch(loop_state &state);

// The whole program, with -a or without; returns the exit status when the play cycle ends by
// itself.
int player_main(bool all);

// Acts on the command line: the help or the version (then 0), -a (all set) or a folder to play
// from (then -1: play on), or what cannot be followed, said on standard error (then 2, as
// getopt's users do).
int take_arguments(int argc, char **argv, bool &all);
