// mci_play: plays one file through the Linux MCI engine with the commands the player sends, for
// files the player's "*.wav" scan never offers (MP3).
//
//   mci_play FILE [DEVICE_TYPE]      DEVICE_TYPE is MPEGVideo (the default) or waveaudio
//
// Like the player it opens the element, plays it with notify|from, asks for its length, waits
// until the whole-second clock reads length + 1 s past the start in 200 ms sleeps, and closes.
// It reads no keyboard, so its wait costs one sleep per pass where the player's also polls.
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mci_play FILE [MPEGVideo|waveaudio]\n");
        return 2;
    }
    char type[32];
    std::snprintf(type, sizeof type, "%s", argc > 2 ? argv[2] : "MPEGVideo");

    mci::open_parms open{};
    open.lpstrDeviceType = type;
    open.lpstrElementName = argv[1];
    if (const mci::error e = plat::mci_send(0, mci::open, mci::open_type | mci::open_element,
                                            reinterpret_cast<mci::dword_ptr>(&open))) {
        std::fprintf(stderr, "mci_play: open %s as %s failed with MCI error %u\n", argv[1], type,
                     static_cast<unsigned>(e));
        return 1;
    }
    const mci::device_id id = open.wDeviceID;
    mci::play_parms play{};
    if (const mci::error e = plat::mci_send(id, mci::play, mci::notify | mci::from,
                                            reinterpret_cast<mci::dword_ptr>(&play))) {
        std::fprintf(stderr, "mci_play: play failed with MCI error %u\n", static_cast<unsigned>(e));
        return 1;
    }
    mci::status_parms status{};
    status.dwItem = mci::status_length;
    plat::mci_send(id, mci::status, mci::status_item, reinterpret_cast<mci::dword_ptr>(&status));
    const std::int64_t length = static_cast<std::int64_t>(status.dwReturn / 1000u);
    const std::int64_t start = plat::now_seconds();
    do
        plat::sleep_ms(200);
    while (plat::now_seconds() - start < length + 1);
    plat::mci_send(id, mci::close, 0, 0);
    return 0;
}
