// Interleaved PCM output to one ALSA device, owned by the playback thread that feeds it.
#pragma once

#include <cstddef>

#include "platform/posix/play_control.h"

struct _snd_pcm;

namespace plat::audio {

// The sample layouts the decoder hands over, each played as it is so that no sample changes
// on its way to the device; the device's plug layer converts where the hardware must.
enum class sample_format { s16, s32, f32, f64 };

std::size_t sample_bytes(sample_format format);

class alsa_output {
  public:
    alsa_output() = default;
    alsa_output(const alsa_output &) = delete;
    alsa_output &operator=(const alsa_output &) = delete;
    // Drops what is still queued: a closed track stops at once.
    ~alsa_output();

    // Opens the named PCM without blocking and sets it up for the stream; false when the
    // device cannot be had, which leaves the track silent.
    bool open(const char *name, sample_format format, unsigned channels, unsigned rate);

    // Queues count frames. False when output has ended: a stop was requested or the device
    // failed in a way that playing on cannot mend.
    bool write(const void *frames, std::size_t count, play_control &control);

    // Lets what is queued play out before the device is dropped, by queueing one buffer of
    // silence behind it. This also starts a device that a short track never filled.
    void finish(play_control &control);

  private:
    bool recover(int error, play_control &control);

    _snd_pcm *pcm_ = nullptr;
    std::size_t frame_bytes_ = 0;
    std::size_t buffer_frames_ = 0;
};

} // namespace plat::audio
