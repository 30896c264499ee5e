// The player: track list, playback loop and command dispatch, with the loop state they share.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int max_tracks = 50;
constexpr int entry_size = 256;

// Fifty zero-terminated names, ended by the end mark unless all fifty hold names.
using track_list = char[max_tracks][entry_size];

extern const char end_mark[]; // "else no"

void scan_tracks(track_list &filelist);
int is_end_mark(const char *entry);
int count_tracks(const track_list &filelist);
void list_tracks(const track_list &filelist);
void print_prompt(const char *entry);

// Shuffle modes.
constexpr std::int32_t in_turn = 0;
constexpr std::int32_t random_pick = 1;
constexpr std::int32_t keep_next =
    2; // random, but the index in hand plays once more without a pick

struct loop_state {
    track_list filelist;
    std::int32_t count = 0;
    std::int32_t index = 0;
    std::int32_t shuffle = in_turn;
    std::int32_t repeat_one = 0;
    std::int32_t no_wrap = 0;
    std::int32_t skip = 0;
    std::int32_t code = 0;
    // Kept at the clock's full width so the wait stays right after 2038.
    std::int64_t start = 0;
    std::int32_t length = 0;
    plat::window window = nullptr;
};

// Reads one command word and applies its code to the loop state.
void command_handoff(loop_state &state);
// Applies state.code to the loop state.
void dispatch(loop_state &state);

// The whole program; returns the exit status when the play cycle ends by itself.
int player_main();

// Acts on the command line: the help or the version (then 0), a folder to play from (then -1:
// play on), or what cannot be followed, said on standard error (then 2, as getopt's users do).
int take_arguments(int argc, char **argv);
