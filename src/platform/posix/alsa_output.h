// Interleaved PCM output to one ALSA device, owned by the playback thread that feeds it.
#pragma once

#include <poll.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/posix/alsa_setup.h"
#include "platform/posix/frame_ring.h"
#include "platform/posix/pcm_format.h"
#include "platform/posix/play_control.h"

struct _snd_pcm;

namespace plat::audio {

// Silence that looks like play is a failure reported as success: the user hears why, in the
// run's one notice.
void say_no_sound(const char *why);

class alsa_output {
  public:
    alsa_output() = default;
    alsa_output(const alsa_output &) = delete;
    alsa_output &operator=(const alsa_output &) = delete;
    // Drops what is still queued: a closed track stops at once.
    ~alsa_output();

    // Opens the named PCM without blocking and sets it up for the stream, each channel bound for
    // its speaker in layout; false when the device cannot be had, which leaves the track silent.
    bool open(const char *name, sample_format format, unsigned channels, unsigned rate,
              const channel_layout &layout);
    // After an open that failed: why the device takes no such stream; empty when it could not be
    // had at all, which has been said as no sound.
    const std::string &refusal() const { return refusal_; }

    // After write or finish has given up on a device that failed: the first call closes it,
    // which is said once as lost; each call then waits half a second, longer while paused, and
    // opens the device again for the same stream. False while it cannot be had, and on a stop.
    bool reopen(play_control &control);

    // The frames the device takes at each wake-up: writes of this many cost least.
    std::size_t period_frames() const { return period_frames_; }

    // Queues count frames, sleeping while the device has no room and holding while paused.
    // False when output has ended: a stop was requested or the device failed in a way that
    // playing on cannot mend.
    bool write(const void *frames, std::size_t count, play_control &control);

    // Lets what is queued play out: starts a device that a short track never filled, then
    // sleeps until its last frame has been played.
    void finish(play_control &control);

  private:
    bool open_pcm();
    bool write_out(const void *frames, std::size_t count, play_control &control);
    void close();
    int wait_for_room(play_control &control, std::size_t wanted);
    bool hold(play_control &control);
    bool mend(int error, int &fruitless, play_control &control);
    bool recover(int error, play_control &control);

    _snd_pcm *pcm_ = nullptr;
    std::string name_;
    sample_format format_ = sample_format::s16;
    stream_setup setup_;
    std::vector<float> narrowed_;
    std::string refusal_;
    unsigned channels_ = 0;
    channel_layout layout_{};
    std::vector<unsigned char> routed_;
    // The error that made write or finish give up, for the word that the device is lost.
    int failure_ = 0;
    std::size_t frame_bytes_ = 0;
    std::size_t buffer_frames_ = 0;
    std::size_t period_frames_ = 1;
    unsigned rate_ = 0;
    // The control's eventfd first, then the PCM's descriptors.
    std::vector<pollfd> fds_;
    // The last buffer's worth of frames written, for a device that a hold has dropped.
    frame_ring history_;
};

} // namespace plat::audio
