// Command dispatch: what each command code does to the loop state.
#include "console/console.h"
#include "device/device.h"
#include "player/player.h"

namespace {

// Holds the track where it is until a key, as "stop" waits for one, and takes the time held off
// the track's clock, so that the time shown and the end of the track count only what played.
void pause_track(loop_state &s) {
    const std::uint32_t from = plat::tick_count();
    pause_device();
    plat::getch();
    resume_device();
    s.paused_ms += static_cast<std::uint32_t>(plat::tick_count() - from);
    const std::int64_t whole = (s.paused_ms + 500) / 1000;
    s.start += whole;
    s.paused_ms -= whole * 1000;
}

} // namespace

void command_handoff(loop_state &state) {
    state.code = read_cmd();
    dispatch(state);
}

void dispatch(loop_state &s) {
    const char *current = s.filelist[s.index];
    switch (s.code) {
    case cmd_code::loop:
        s.repeat_one = 1 - s.repeat_one;
        print_prompt(current);
        return;
    case cmd_code::shuffle:
        s.shuffle = s.shuffle == in_turn ? random_pick : in_turn;
        print_prompt(current);
        return;
    case cmd_code::help:
        show_help();
        print_prompt(current);
        return;
    case cmd_code::before:
        s.index -= 2;
        s.skip = 1;
        return;
    case cmd_code::next:
        s.skip = 1;
        return;
    case cmd_code::exit:
        plat::exit_process(1);
    case cmd_code::ls:
        say("\n");
        list_tracks(s.filelist);
        print_prompt(current);
        return;
    case cmd_code::time: {
        // The difference is cut to 32 bits, as the display takes it.
        auto elapsed = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(static_cast<std::uint64_t>(plat::now_seconds() - s.start)));
        show_time(elapsed, s.length);
        print_prompt(current);
        return;
    }
    case cmd_code::alloop:
        s.no_wrap = 1 - s.no_wrap;
        print_prompt(current);
        return;
    case cmd_code::pause:
        pause_track(s);
        print_prompt(current);
        return;
    default:
        break;
    }
    if (s.code >= cmd_code::number_base && s.code <= cmd_code::number_last) {
        // A typed number plays that entry even in shuffle: the cycle skips one random pick.
        if (s.shuffle != in_turn)
            s.shuffle = keep_next;
        s.index = s.code - (cmd_code::number_base + 1);
        s.skip = 1;
    }
}
