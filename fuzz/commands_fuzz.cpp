// Fuzz target: typed bytes through the command reader and dispatch, then through a whole run of the
// player. It checks what holds for any input: the modes stay in range, the index stays where the
// play cycle can settle it, the process ends only with 0 or 1, and one device at a time plays an
// entry of the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "player/player.h"
#include "require.h"

namespace {

std::vector<std::string> names(int count) {
    std::vector<std::string> list;
    for (int i = 0; i < count; ++i)
        list.push_back(std::to_string(i) + ".wav");
    return list;
}

void reader_and_dispatch(int count, const std::string &typed) {
    fake::reset(names(count));
    fake::type_at(0, typed);
    loop_state s;
    scan_tracks(s.filelist);
    s.count = count_tracks(s.filelist);
    REQUIRE(s.count == count);
    // Every hand-off takes at least one word or finds the end of input.
    for (std::size_t round = 0; round <= typed.size() && round < 512; ++round) {
        try {
            command_handoff(s);
        } catch (const fake::exited &e) {
            REQUIRE(e.status == 1);
            return;
        }
        REQUIRE(s.repeat_one == 0 || s.repeat_one == 1);
        REQUIRE(s.no_wrap == 0 || s.no_wrap == 1);
        REQUIRE(s.shuffle >= in_turn && s.shuffle <= keep_next);
        REQUIRE(s.skip == 0 || s.skip == 1);
        REQUIRE(s.count == count);
        // A jump leaves at most 49; "before" on entry 0 leaves -2, which the play cycle settles.
        REQUIRE(s.index >= -2 && s.index < max_tracks);
        // The play cycle would move to a track next; any one in the list will do here.
        s.index = ((s.index % count) + count) % count;
        s.skip = 0;
    }
}

void whole_run(int count, const std::string &typed) {
    fake::reset(names(count));
    // Each line arrives 700 ms after the one before, so some land mid-track.
    std::int64_t at = 0;
    std::size_t from = 0;
    for (std::size_t end; (end = typed.find('\n', from)) != std::string::npos; from = end + 1) {
        fake::type_at(at, typed.substr(from, end + 1 - from));
        at += 700;
    }
    fake::type_at(at, typed.substr(from));
    const int status = fake::run_main(6);
    REQUIRE(status == -1 || status == 0 ||
            (status == 1 && typed.find("exit") != std::string::npos));
    std::istringstream log(fake::seen.mci);
    bool open = false;
    for (std::string line, command, device, flags, type, element; std::getline(log, line);) {
        std::istringstream(line) >> command >> device >> flags >> type >> element;
        if (command == "open") {
            REQUIRE(!open);
            const int entry = std::atoi(element.c_str());
            REQUIRE(entry >= 0 && entry < count && element == std::to_string(entry) + ".wav");
            open = true;
        } else if (command == "close") {
            open = false;
        }
    }
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
