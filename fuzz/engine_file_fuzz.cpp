// Fuzz target: the Linux MCI engine opening, measuring and playing any file to its end.
// The bytes are written under a .wav and under a .mp3 name and opened with the device type the
// player's device picks for each.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

std::string folder;

void write_file(const std::string &path, const std::uint8_t *data, std::size_t size) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
}

void open_measure_play(const char *type, const std::string &path) {
    mci::open_parms open{};
    open.wDeviceID = 0xABCD;
    open.lpstrDeviceType = type;
    open.lpstrElementName = path.c_str();
    const mci::error opened = plat::mci_send(0, mci::open, mci::open_type | mci::open_element,
                                             reinterpret_cast<mci::dword_ptr>(&open));
    if (opened != 0) {
        // A refused file must leave no identifier behind for the device to close later.
        if (open.wDeviceID != 0)
            std::abort();
        return;
    }
    if (open.wDeviceID == 0)
        std::abort();

    mci::status_parms status{};
    status.dwItem = mci::status_length;
    if (plat::mci_send(open.wDeviceID, mci::status, mci::status_item,
                       reinterpret_cast<mci::dword_ptr>(&status)) != 0)
        std::abort();
    if (status.dwReturn > UINT32_MAX)
        std::abort();

    // Waiting for the play decodes every frame the file yields before it returns.
    mci::play_parms play{};
    play.dwCallback = 0x1234;
    if (plat::mci_send(open.wDeviceID, mci::play, mci::notify | mci::from | mci::wait,
                       reinterpret_cast<mci::dword_ptr>(&play)) != 0)
        std::abort();
    if (plat::mci_send(open.wDeviceID, mci::close, 0, 0) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // No sound card here or in CI: ALSA's null PCM takes the samples as fast as they come.
    setenv("AUDIODEV", "null", 1);
    char name[] = "/tmp/kestrova-fuzz-XXXXXX";
    if (!mkdtemp(name))
        std::abort();
    folder = name;
    // One folder per process; libFuzzer leaves through exit, so atexit tidies it.
    std::atexit([] {
        unlink((folder + "/t.wav").c_str());
        unlink((folder + "/t.mp3").c_str());
        rmdir(folder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string wav = folder + "/t.wav";
    const std::string mp3 = folder + "/t.mp3";
    write_file(wav, data, size);
    write_file(mp3, data, size);
    open_measure_play("waveaudio", wav);
    open_measure_play("MPEGVideo", mp3);
    return 0;
}
