// mci_play: plays one file through the Linux MCI engine with the commands the player sends, for
// files the player's "*.wav" scan never offers (MP3), and for timing pause and close.
//
//   mci_play FILE [DEVICE_TYPE]         DEVICE_TYPE is MPEGVideo (the default) or waveaudio
//   mci_play --commands FILE DEVICE_TYPE
//
// Like the player it opens the element, plays it with notify|from, asks for its length, waits
// until the whole-second clock reads length + 1 s past the start in 200 ms sleeps, and closes.
// It reads no keyboard, so its wait costs one sleep per pass where the player's also polls.
// With --commands it reads lines from standard input instead: "play" (opening the file first
// when it is not open), "pause", "resume" and "close", each sent at once.
#include <cstdio>
#include <cstring>

#include "mci_calls.h"
#include "platform/platform.h"

namespace {

mci::device_id open_file(const char *file, const char *type) {
    mci::device_id id = 0;
    if (const mci::error e = support::open_file(type, file, id)) {
        std::fprintf(stderr, "mci_play: open %s as %s failed with MCI error %u\n", file, type,
                     static_cast<unsigned>(e));
        return 0;
    }
    return id;
}

bool play(mci::device_id id) {
    if (const mci::error e = support::play(id)) {
        std::fprintf(stderr, "mci_play: play failed with MCI error %u\n", static_cast<unsigned>(e));
        return false;
    }
    return true;
}

int commands(const char *file, const char *type) {
    mci::device_id id = 0;
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strcmp(line, "play\n") == 0) {
            if (id == 0 && (id = open_file(file, type)) == 0)
                return 1;
            if (!play(id))
                return 1;
        } else if (std::strcmp(line, "pause\n") == 0) {
            plat::mci_send(id, mci::pause, 0, 0);
        } else if (std::strcmp(line, "resume\n") == 0) {
            plat::mci_send(id, mci::resume, 0, 0);
        } else if (std::strcmp(line, "close\n") == 0) {
            support::close_device(id);
            id = 0;
        }
    }
    support::close_device(id);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--commands") == 0)
        return commands(argv[2], argv[3]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: mci_play [--commands] FILE [MPEGVideo|waveaudio]\n");
        return 2;
    }
    char type[32];
    std::snprintf(type, sizeof type, "%s", argc > 2 ? argv[2] : "MPEGVideo");
    const mci::device_id id = open_file(argv[1], type);
    if (id == 0 || !play(id))
        return 1;
    const auto length = static_cast<std::int64_t>(support::length_ms(id) / 1000u);
    const std::int64_t start = plat::now_seconds();
    do
        plat::sleep_ms(200);
    while (plat::now_seconds() - start < length + 1);
    support::close_device(id);
    return 0;
}
