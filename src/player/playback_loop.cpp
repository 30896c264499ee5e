// The main routine: start-up, the play cycle that picks each entry, and the wait that times it.
#include <cstdlib>

#include "console/console.h"
#include "device/device.h"
#include "player/player.h"

namespace {

constexpr unsigned poll_ms = 200;

// Holds the track until the whole-second clock reads length + 1 past its start, or a command
// ends it. The keyboard is polled before each sleep, so the first poll comes at once.
void wait_track(loop_state &s) {
    for (;;) {
        if (plat::kbhit())
            command_handoff(s);
        s.code = 0;
        if (s.skip == 1)
            return;
        plat::sleep_ms(poll_ms);
        std::int64_t elapsed = plat::now_seconds() - s.start;
        if (elapsed >= static_cast<std::int64_t>(s.length) + 1)
            return;
    }
}

// Settles the index for the next track; false when the program is to end instead.
bool settle_index(loop_state &s) {
    s.skip = 0;
    s.code = 0;
    if (s.index > s.count || (s.index >= 0 && is_end_mark(s.filelist[s.index]))) {
        if (s.shuffle != in_turn)
            s.shuffle = keep_next; // entry 0 follows without a random pick
        if (s.no_wrap)
            return false;
        s.index = 0;
    }
    if (s.index < 0)
        s.index = s.count - 1;
    if (s.repeat_one == 1) {
        if (s.shuffle == random_pick)
            s.shuffle = keep_next;
        s.index -= 1;
        if (s.index < 0)
            s.index = s.count - 1;
    }
    if (s.shuffle == random_pick)
        s.index = std::rand() % s.count;
    if (s.shuffle == keep_next)
        s.shuffle = random_pick;
    return true;
}

} // namespace

int player_main(bool all) {
    loop_state s;
    s.all = all;
    std::srand(static_cast<unsigned>(static_cast<std::uint32_t>(plat::now_seconds())));
    s.window = get_console_window();
    scan_tracks(s.filelist, s.all);
    if (is_end_mark(s.filelist[0])) {
        say("There are no mp3s.\n");
        plat::read_char();
        plat::exit_process(1);
    }
    s.count = count_tracks(s.filelist);
    list_tracks(s.filelist);

    // Each pass steps the index by one, and a command aims short of that step: before takes 2
    // off the entry playing (its predecessor follows), a number n sets it to n - 1 (its code less
    // number_base + 1), and with repeat-one on settle_index takes 1 off after the step, so that
    // the same entry plays again (and a command lands one entry earlier). Number 50 puts the
    // step at max_tracks, which ends the run.
    for (s.index = 0; s.index < max_tracks; ++s.index) {
        if (!settle_index(s))
            return 0;
        say("\n");
        print_prompt(s.filelist[s.index]);
        play_file(s.filelist[s.index], s.window, 0, s.all);
        s.length = track_length();
        s.start = plat::now_seconds();
        s.paused_ms = 0;
        wait_track(s);
        close_device();
    }
    // A line end left by the last typed command satisfies this read at once.
    plat::read_char();
    return 0;
}
