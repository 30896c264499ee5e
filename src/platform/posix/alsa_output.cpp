// ALSA output for the playback thread; every call into alsa-lib's PCM interface is made here.
#include "platform/posix/alsa_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/posix/alsa_setup.h"
#include "platform/posix/hooks.h"

namespace plat::audio {
namespace {

// How long to wait for a device that should have room but takes nothing, or that is still
// resuming, before trying again.
constexpr int retry_ms = 20;
// Recoveries in a row that bring no frame through before the device is given up.
constexpr int fruitless_limit = 4;
// How often a lost device is tried again: a sound server that restarts is back within a second.
constexpr int reopen_ms = 500;

// Sleeps until a request comes or ms milliseconds have passed (-1: no limit); false when a stop
// is requested.
bool nap(play_control &control, int ms) {
    pollfd fd{control.fd(), POLLIN, 0};
    if (::poll(&fd, 1, ms) > 0)
        control.clear();
    return !control.stop_requested();
}

// alsa-lib prints its own complaints to stderr, which would land in the player's screen.
void quiet(const char *, int, const char *, int, const char *, ...) {}

void no_sound(const char *what, const std::string &pcm, int error) {
    char why[256];
    std::snprintf(why, sizeof why, "%s ALSA PCM \"%s\" (%s)", what, pcm.c_str(),
                  snd_strerror(error));
    say_no_sound(why);
}

} // namespace

void say_no_sound(const char *why) {
    char line[512];
    std::snprintf(line, sizeof line, "kestrova: no sound: %s; set AUDIODEV, see 'aplay -L'", why);
    posix::notify(line, true);
}

alsa_output::~alsa_output() {
    close();
}

void alsa_output::close() {
    if (pcm_) {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }
}

bool alsa_output::open(const char *name, sample_format format, unsigned channels, unsigned rate,
                       const channel_layout &layout) {
    static std::once_flag quieted;
    std::call_once(quieted, [] { snd_lib_error_set_handler(quiet); });
    name_ = name;
    format_ = format;
    channels_ = channels;
    rate_ = rate;
    layout_ = layout;
    return open_pcm();
}

bool alsa_output::open_pcm() {
    snd_pcm_t *pcm = nullptr;
    const int error = snd_pcm_open(&pcm, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (error < 0) {
        // Said for a track's first open; a device lost meanwhile has been named already.
        if (failure_ == 0)
            no_sound("cannot open", name_, error);
        return false;
    }
    pcm_ = pcm;
    if (!set_up_stream(pcm, format_, channels_, rate_, layout_, setup_)) {
        char why[160];
        std::snprintf(why, sizeof why, "ALSA PCM \"%s\" takes no stream of %u channels at %u Hz",
                      name_.c_str(), channels_, rate_);
        refusal_ = why;
        return false;
    }
    const int count = snd_pcm_poll_descriptors_count(pcm);
    if (count < 1)
        return false;
    fds_.resize(1 + static_cast<std::size_t>(count));
    if (snd_pcm_poll_descriptors(pcm, &fds_[1], static_cast<unsigned>(count)) != count)
        return false;
    frame_bytes_ = sample_bytes(setup_.played) * setup_.route.out_channels();
    buffer_frames_ = setup_.buffer;
    period_frames_ = std::max<std::size_t>(setup_.period, 1);
    history_.reset(buffer_frames_, frame_bytes_);
    return true;
}

bool alsa_output::reopen(play_control &control) {
    if (control.stop_requested())
        return false;
    if (pcm_) {
        if (failure_ == 0)
            failure_ = -EIO;
        no_sound("lost", name_, failure_);
        close();
    }
    // Nothing plays meanwhile: a pause waits for its resume, and Ctrl-Z's hold is answered at once.
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(reopen_ms);
    for (;;) {
        if (control.stop_requested())
            return false;
        if (control.paused()) {
            if (posix::sound_held())
                posix::sound_paused();
            nap(control, -1);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            due - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        nap(control, static_cast<int>(left.count()) + 1);
    }
    if (open_pcm())
        return true;
    close();
    return false;
}

bool alsa_output::write(const void *frames, std::size_t count, play_control &control) {
    if (setup_.played != format_) {
        const auto *doubles = static_cast<const double *>(frames);
        narrowed_.resize(count * channels_);
        for (std::size_t i = 0; i < narrowed_.size(); ++i)
            narrowed_[i] = static_cast<float>(doubles[i]);
        frames = narrowed_.data();
    }
    if (!setup_.route.moves())
        return write_out(frames, count, control);
    setup_.route.apply(frames, count, sample_bytes(setup_.played), routed_);
    return write_out(routed_.data(), count, control);
}

bool alsa_output::write_out(const void *frames, std::size_t count, play_control &control) {
    const auto *bytes = static_cast<const unsigned char *>(frames);
    int fruitless = 0;
    int idle = 0;
    while (count > 0) {
        if (!hold(control))
            return false;
        // One write a wake-up, of at least a period where the frames are there: every write
        // costs the sound server a message, and a wake-up of its client thread in our process.
        snd_pcm_sframes_t done = snd_pcm_avail_update(pcm_);
        if (done >= 0 && static_cast<std::size_t>(done) < std::min(count, period_frames_))
            done = 0;
        else if (done >= 0)
            done = snd_pcm_writei(pcm_, bytes, std::min(count, static_cast<std::size_t>(done)));
        if (done > 0) {
            const auto n = static_cast<std::size_t>(done);
            history_.keep(bytes, n);
            bytes += n * frame_bytes_;
            count -= n;
            fruitless = 0;
            idle = 0;
            continue;
        }
        if (done == 0 || done == -EAGAIN) {
            const int ready = wait_for_room(control, std::min(count, period_frames_));
            if (ready < 0) {
                if (!mend(ready, fruitless, control))
                    return false;
            } else if (ready > 0 && ++idle > 1 && !nap(control, retry_ms)) {
                // A device that reports room but takes nothing must not make us spin.
                return false;
            }
            continue;
        }
        if (!mend(static_cast<int>(done), fruitless, control))
            return false;
    }
    return !control.stop_requested();
}

// 1 when the device has room for wanted frames, 0 when a request came first (or a long wait ran
// out), or the device's error.
int alsa_output::wait_for_room(play_control &control, std::size_t wanted) {
    fds_[0] = pollfd{control.fd(), POLLIN, 0};
    for (std::size_t i = 1; i < fds_.size(); ++i)
        fds_[i].revents = 0;
    // The limit only guards against a device that never signals: the sound runs out long before.
    const int got = ::poll(fds_.data(), fds_.size(), static_cast<int>(4 * latency_us / 1000));
    if (got <= 0)
        return 0;
    if (fds_[0].revents) {
        control.clear();
        return 0;
    }
    unsigned short revents = 0;
    const int error = snd_pcm_poll_descriptors_revents(
        pcm_, &fds_[1], static_cast<unsigned>(fds_.size() - 1), &revents);
    if (error < 0)
        return error;
    if (revents & (POLLOUT | POLLERR))
        return 1;
    // A wake-up without room. PipeWire's plugin keeps its descriptor readable until the room
    // reaches a period, most of every period, so polling again would spin: sleep instead for as
    // long as the missing frames take to play, on the control alone, which a pause or a close
    // still wakes at once. The device's pointer moves in steps (a sound server's cycle, a card's
    // period), so a sixteenth of a period more finds the room there rather than a step short.
    const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
    if (room < 0)
        return static_cast<int>(room);
    if (static_cast<std::size_t>(room) >= wanted)
        return 1;
    const auto missing =
        static_cast<std::uint64_t>(wanted - static_cast<std::size_t>(room) + period_frames_ / 16);
    nap(control, static_cast<int>(missing * 1000 / rate_ + 1));
    return 0;
}

// Returns at once unless paused, else when resumed; false when a stop is requested. The device
// pauses itself where it can. Otherwise it is dropped, and on resume the frames it had not
// played are written again from the history, so that nothing is lost or heard twice.
//
// Ctrl-Z drops it too. A sound server's pause is only queued for its library's own thread to
// send, and the process stops, that thread with it, as soon as this one says it is silent: the
// server then plays out the whole buffer, seconds of it, at whatever moment of the track. A drop
// returns only once the server has stopped the stream.
bool alsa_output::hold(play_control &control) {
    if (control.stop_requested())
        return false;
    if (!control.paused())
        return true;
    bool paused = false;
    std::size_t unplayed = 0;
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
        paused = setup_.can_pause && !posix::sound_held() && snd_pcm_pause(pcm_, 1) == 0;
        if (!paused) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_delay(pcm_, &delay) == 0 && delay > 0)
                unplayed = std::min(static_cast<std::size_t>(delay), history_.kept());
            snd_pcm_drop(pcm_);
        }
    }
    while (control.paused()) {
        // Silent now: a Ctrl-Z that waits for it may stop the process.
        if (posix::sound_held())
            posix::sound_paused();
        if (!nap(control, -1))
            return false;
    }
    if (paused)
        return snd_pcm_pause(pcm_, 0) == 0 || snd_pcm_prepare(pcm_) == 0;
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_SETUP && snd_pcm_prepare(pcm_) < 0)
        return false;
    if (unplayed == 0)
        return true;
    const std::vector<unsigned char> again = history_.take_last(unplayed);
    return write_out(again.data(), unplayed, control);
}

bool alsa_output::mend(int error, int &fruitless, play_control &control) {
    if (++fruitless <= fruitless_limit)
        return recover(error, control);
    failure_ = error;
    return false;
}

bool alsa_output::recover(int error, play_control &control) {
    if (error == -EPIPE)
        return snd_pcm_prepare(pcm_) == 0;
    if (error == -ESTRPIPE) {
        int resumed;
        while ((resumed = snd_pcm_resume(pcm_)) == -EAGAIN) {
            if (!nap(control, retry_ms))
                return false;
        }
        return resumed == 0 || snd_pcm_prepare(pcm_) == 0;
    }
    // Unplugged, or a sound server gone: only a fresh open can bring it back.
    failure_ = error;
    return false;
}

void alsa_output::finish(play_control &control) {
    // One sleep for as long as the queued frames take to play, and no more wake-ups: no silence
    // is queued behind them, and the device is dropped only once they have been heard.
    for (;;) {
        if (!hold(control))
            return;
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm_) < 0)
            return;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING || snd_pcm_delay(pcm_, &delay) < 0 ||
            delay <= 0)
            return;
        const auto ms = static_cast<std::uint64_t>(delay) * 1000 / rate_ + 1;
        if (!nap(control, static_cast<int>(std::min<std::uint64_t>(ms, 4 * latency_us / 1000))))
            return;
    }
}

} // namespace plat::audio
