// Fuzz target: typed bytes through the word reader, command decoding and dispatch.
// Runs on the scriptable platform: each command is checked against the state before it, then the
// same bytes are typed into a whole run of the player.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/console.h"
#include "fake/fake_platform.h"
#include "player/player.h"

namespace {

// A broken expectation is a finding: say which before libFuzzer records the input.
#define REQUIRE(holds) ((holds) ? (void)0 : broken(#holds, __LINE__))

[[noreturn]] void broken(const char *expectation, int line) {
    std::fprintf(stderr, "expectation failed at line %d: %s\n", line, expectation);
    std::abort();
}

std::vector<std::string> names(int count) {
    std::vector<std::string> list;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "t%02d.wav", i);
        list.emplace_back(name);
    }
    return list;
}

bool is_space(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::size_t words_in(const std::string &typed) {
    std::size_t words = 0;
    for (std::size_t i = 0; i < typed.size(); ++i)
        if (!is_space(static_cast<std::uint8_t>(typed[i])) &&
            (i == 0 || is_space(static_cast<std::uint8_t>(typed[i - 1]))))
            ++words;
    return words;
}

bool ends_with(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// What one dispatched command may have done to the loop state, judged against the state before.
void check_dispatch(const loop_state &before, const loop_state &after, std::size_t output_before) {
    const std::int32_t code = after.code;
    REQUIRE((code >= cmd_code::loop && code <= cmd_code::alloop && code != cmd_code::exit) ||
            code >= cmd_code::number_base);
    REQUIRE(after.repeat_one == 0 || after.repeat_one == 1);
    REQUIRE(after.no_wrap == 0 || after.no_wrap == 1);
    REQUIRE(after.count == before.count);
    switch (code) {
    case cmd_code::next:
        REQUIRE(after.skip == 1 && after.index == before.index);
        return;
    case cmd_code::before:
        REQUIRE(after.skip == 1 && after.index == before.index - 2);
        return;
    case cmd_code::none:
        REQUIRE(after.skip == 0 && after.index == before.index);
        return;
    case cmd_code::loop:
    case cmd_code::shuffle:
    case cmd_code::help:
    case cmd_code::ls:
    case cmd_code::time:
    case cmd_code::alloop: {
        // Commands that do not change the track show its prompt again, last.
        REQUIRE(after.skip == 0 && after.index == before.index);
        const std::string &out = fake::output();
        REQUIRE(out.size() > output_before);
        char prompt[64];
        std::snprintf(prompt, sizeof prompt, "KestrovaSonvane~ t%02d~$ ", after.index);
        REQUIRE(ends_with(out, prompt));
        return;
    }
    default:
        if (code <= cmd_code::number_last) {
            REQUIRE(after.skip == 1 && after.index == code - (cmd_code::number_base + 1));
        } else {
            REQUIRE(after.skip == 0 && after.index == before.index);
        }
    }
}

void reader_and_dispatch(int count, const std::string &typed) {
    fake::reset();
    fake::set_folder(names(count));
    fake::type_at(0, typed);
    loop_state state;
    scan_tracks(state.filelist);
    state.count = count_tracks(state.filelist);
    REQUIRE(state.count == count);
    // Every round takes at least one word, so one more round than words reaches the end.
    const std::size_t rounds = words_in(typed) + 1;
    for (std::size_t round = 0; round < rounds && round < 512; ++round) {
        const loop_state before = state;
        const std::size_t output_before = fake::output().size();
        try {
            command_handoff(state);
        } catch (const fake::exited &e) {
            REQUIRE(e.status == 1);
            return;
        }
        check_dispatch(before, state, output_before);
        // The play cycle would move to a track next; any one in the list will do here.
        state.index = ((state.index % count) + count) % count;
        state.skip = 0;
        state.code = 0;
    }
}

void whole_run(int count, const std::string &typed) {
    fake::reset();
    fake::set_folder(names(count));
    fake::set_play_budget(6);
    // Each line arrives a little later than the one before, so some land mid-track.
    std::int64_t at = fake::clock_ms();
    std::string line;
    for (char c : typed) {
        line.push_back(c);
        if (c == '\n') {
            fake::type_at(at, line);
            line.clear();
            at += 700;
        }
    }
    fake::type_at(at, line);
    const int status = fake::run_main();
    REQUIRE(status == -1 || status == 0 || status == 1);
    REQUIRE(fake::open_devices() <= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte sets the folder's size, 1 to 50 tracks.
    const int count = data[0] % max_tracks + 1;
    const std::string typed(reinterpret_cast<const char *>(data + 1), size - 1);
    reader_and_dispatch(count, typed);
    whole_run(count, typed);
    return 0;
}
