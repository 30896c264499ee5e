// Fuzz target: the Linux MCI engine opening, measuring and playing any file to its end.
// The bytes are written under a .wav and under a .mp3 name and opened with the device type the
// player's device picks for each.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>

#include "mci_calls.h"
#include "require.h"
#include "support.h"

namespace {

void open_measure_play(const char *type, const std::string &path) {
    mci::device_id id = 0xABCD;
    if (support::open_file(type, path, id) != 0) {
        // A refused file must leave no identifier behind for the device to close later.
        REQUIRE(id == 0);
        return;
    }
    REQUIRE(id != 0);
    REQUIRE(support::length_ms(id) <= UINT32_MAX);
    // Waiting for the play decodes every frame the file yields before it returns.
    REQUIRE(support::play(id, mci::wait) == 0);
    REQUIRE(support::close_device(id) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // No sound card here or in CI: ALSA's null PCM takes the samples as fast as they come.
    setenv("AUDIODEV", "null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // One folder per process, removed as libFuzzer leaves through exit.
    static const support::temp_folder folder;
    const std::string content(reinterpret_cast<const char *>(data), size);
    support::write_bytes(folder / "t.wav", content);
    support::write_bytes(folder / "t.mp3", content);
    open_measure_play("waveaudio", folder / "t.wav");
    open_measure_play("MPEGVideo", folder / "t.mp3");
    return 0;
}
