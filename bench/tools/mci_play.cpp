// mci_play: drives the Linux MCI engine with the player's own commands, one a line of standard
// input, for timing pause and close on a sound server's sinks; or plays one file whole.
//
//   mci_play --commands FILE DEVICE_TYPE
//   mci_play --whole FILE DEVICE_TYPE
//
// "play" opens the file first when it is not open, then plays it with notify|from; "pause",
// "resume" and "close" are sent at once, as the player would send them. --whole prints the
// length that MCI reports, in milliseconds, and returns once every frame has gone to AUDIODEV:
// with ALSA's file PCM, what the engine decodes, as fast as it decodes it.
#include <cstdio>
#include <cstring>

#include "mci_calls.h"
#include "platform/platform.h"

namespace {

int play_whole(const char *file, const char *type) {
    mci::device_id id = 0;
    if (const mci::error failed = support::open_file(type, file, id)) {
        char reason[256] = "";
        plat::mci_error_text(failed, reason, sizeof reason);
        std::fprintf(stderr, "mci_play: %s: %s\n", file, reason);
        return 1;
    }
    std::printf("%llu\n", static_cast<unsigned long long>(support::length_ms(id)));
    const mci::error failed = support::play(id, mci::wait);
    support::close_device(id);
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--whole") == 0)
        return play_whole(argv[2], argv[3]);
    if (argc != 4 || std::strcmp(argv[1], "--commands") != 0) {
        std::fprintf(stderr, "usage: mci_play --commands FILE DEVICE_TYPE\n"
                             "       mci_play --whole FILE DEVICE_TYPE\n");
        return 2;
    }
    mci::device_id id = 0;
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        mci::error failed = 0;
        if (std::strcmp(line, "play\n") == 0) {
            if (id == 0)
                failed = support::open_file(argv[3], argv[2], id);
            failed = failed ? failed : support::play(id);
        } else if (std::strcmp(line, "pause\n") == 0) {
            plat::mci_send(id, mci::pause, 0, 0);
        } else if (std::strcmp(line, "resume\n") == 0) {
            plat::mci_send(id, mci::resume, 0, 0);
        } else if (std::strcmp(line, "close\n") == 0) {
            support::close_device(id);
            id = 0;
        }
        if (failed) {
            std::fprintf(stderr, "mci_play: %s failed with MCI error %u\n", argv[2],
                         static_cast<unsigned>(failed));
            return 1;
        }
    }
    support::close_device(id);
    return 0;
}
