// ALSA output for the playback thread; every call into alsa-lib's PCM interface is made here.
#include "platform/posix/alsa_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace plat::audio {
namespace {

// Short enough for the buffer to outlast a busy machine's scheduling, and the bound on how
// much plays on after a pause.
constexpr unsigned latency_us = 100000;
// How long one wait for room in a stalled device's buffer may last before a stop request is
// looked at.
constexpr int wait_ms = 20;
// A device that plays on wakes us once a period, and the quarter of the buffer that a period
// takes outlasts wait_ms: waking early for nothing cost a wake-up per period. So the first wait
// may last two periods, still short enough for a prompt close, and only once one has run out
// with no room does the short one apply.
constexpr int patient_wait_ms = 2 * static_cast<int>(latency_us / 1000) / 4;
// Recoveries in a row that bring no frame through before the device is given up.
constexpr int fruitless_limit = 4;
constexpr std::size_t silence_frames = 1024;

// alsa-lib prints its own complaints to stderr, which would land in the player's screen.
void quiet(const char *, int, const char *, int, const char *, ...) {}

snd_pcm_format_t alsa_format(sample_format format) {
    switch (format) {
    case sample_format::s16:
        return SND_PCM_FORMAT_S16;
    case sample_format::s32:
        return SND_PCM_FORMAT_S32;
    case sample_format::f32:
        return SND_PCM_FORMAT_FLOAT;
    case sample_format::f64:
        return SND_PCM_FORMAT_FLOAT64;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

} // namespace

std::size_t sample_bytes(sample_format format) {
    switch (format) {
    case sample_format::s16:
        return 2;
    case sample_format::s32:
    case sample_format::f32:
        return 4;
    case sample_format::f64:
        return 8;
    }
    return 0;
}

alsa_output::~alsa_output() {
    if (pcm_) {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }
}

bool alsa_output::open(const char *name, sample_format format, unsigned channels, unsigned rate) {
    static std::once_flag quieted;
    std::call_once(quieted, [] { snd_lib_error_set_handler(quiet); });

    snd_pcm_t *pcm = nullptr;
    if (snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    if (snd_pcm_set_params(pcm, alsa_format(format), SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate,
                           1, latency_us) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;
    if (snd_pcm_get_params(pcm, &buffer, &period) < 0 || buffer == 0)
        buffer = static_cast<snd_pcm_uframes_t>(rate) * latency_us / 1000000 + 1;
    pcm_ = pcm;
    frame_bytes_ = sample_bytes(format) * channels;
    buffer_frames_ = buffer;
    return true;
}

bool alsa_output::write(const void *frames, std::size_t count, play_control &control) {
    const auto *bytes = static_cast<const unsigned char *>(frames);
    int fruitless = 0;
    int idle = 0;
    bool stalled = false;
    while (count > 0) {
        if (!control.hold_while_paused())
            return false;
        snd_pcm_sframes_t done = snd_pcm_writei(pcm_, bytes, count);
        if (done > 0) {
            const auto n = static_cast<std::size_t>(done);
            bytes += n * frame_bytes_;
            count -= n;
            fruitless = 0;
            idle = 0;
            continue;
        }
        if (done == 0 || done == -EAGAIN) {
            const int ready = snd_pcm_wait(pcm_, stalled ? wait_ms : patient_wait_ms);
            stalled = ready == 0;
            if (ready < 0) {
                if (++fruitless > fruitless_limit || !recover(ready, control))
                    return false;
            } else if (ready > 0 && ++idle > 1 && !control.nap(wait_ms / 4)) {
                // A device that reports room but takes nothing must not make us spin.
                return false;
            }
            continue;
        }
        if (++fruitless > fruitless_limit || !recover(static_cast<int>(done), control))
            return false;
    }
    return !control.stop_requested();
}

bool alsa_output::recover(int error, play_control &control) {
    if (error == -EPIPE)
        return snd_pcm_prepare(pcm_) == 0;
    if (error == -ESTRPIPE) {
        int resumed;
        while ((resumed = snd_pcm_resume(pcm_)) == -EAGAIN) {
            if (!control.nap(wait_ms))
                return false;
        }
        return resumed == 0 || snd_pcm_prepare(pcm_) == 0;
    }
    return false;
}

void alsa_output::finish(play_control &control) {
    const std::vector<unsigned char> silence(silence_frames * frame_bytes_, 0);
    for (std::size_t left = buffer_frames_; left > 0;) {
        const std::size_t n = std::min(left, silence_frames);
        if (!write(silence.data(), n, control))
            return;
        left -= n;
    }
}

} // namespace plat::audio
