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

#include "platform/posix/hooks.h"

namespace plat::audio {
namespace {

// Two seconds of buffer, what a sound server gives a stream that asks for nothing: the thread wakes
// once a period to refill it, and a sound server's client thread in our process at much the same
// pace; a busy machine has a second to schedule them before the sound breaks up, and a pause or a
// close still silences at once.
constexpr unsigned latency_us = 2000000;
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

// Sets the stream up in a buffer of about latency_us, of two periods where the device allows:
// the thread wakes when a period's room is free, twice a buffer.
bool configure(snd_pcm_t *pcm, snd_pcm_format_t format, unsigned channels, unsigned rate,
               snd_pcm_uframes_t &buffer, snd_pcm_uframes_t &period, bool &can_pause) {
    snd_pcm_hw_params_t *hw;
    snd_pcm_hw_params_alloca(&hw);
    unsigned buffer_us = latency_us;
    unsigned period_us = latency_us / 2;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 || snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, format) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, channels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0 ||
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, nullptr) < 0 ||
        snd_pcm_hw_params(pcm, hw) < 0 || snd_pcm_hw_params_get_buffer_size(hw, &buffer) < 0 ||
        snd_pcm_hw_params_get_period_size(hw, &period, nullptr) < 0)
        return false;
    can_pause = snd_pcm_hw_params_can_pause(hw) == 1;
    snd_pcm_sw_params_t *sw;
    snd_pcm_sw_params_alloca(&sw);
    // Play starts with the first period written, or when the end of a shorter track starts it;
    // the rest of the buffer is filled at once behind it.
    return snd_pcm_sw_params_current(pcm, sw) == 0 &&
           snd_pcm_sw_params_set_avail_min(pcm, sw, period) == 0 &&
           snd_pcm_sw_params_set_start_threshold(pcm, sw, period) == 0 &&
           snd_pcm_sw_params(pcm, sw) == 0;
}

// ALSA's name for each speaker.
unsigned alsa_position(speaker where) {
    switch (where) {
    case speaker::none:
        return SND_CHMAP_UNKNOWN;
    case speaker::mono:
        return SND_CHMAP_MONO;
    case speaker::front_left:
        return SND_CHMAP_FL;
    case speaker::front_right:
        return SND_CHMAP_FR;
    case speaker::front_centre:
        return SND_CHMAP_FC;
    case speaker::lfe:
        return SND_CHMAP_LFE;
    case speaker::back_left:
        return SND_CHMAP_RL;
    case speaker::back_right:
        return SND_CHMAP_RR;
    case speaker::front_left_centre:
        return SND_CHMAP_FLC;
    case speaker::front_right_centre:
        return SND_CHMAP_FRC;
    case speaker::back_centre:
        return SND_CHMAP_RC;
    case speaker::side_left:
        return SND_CHMAP_SL;
    case speaker::side_right:
        return SND_CHMAP_SR;
    case speaker::top_centre:
        return SND_CHMAP_TC;
    case speaker::top_front_left:
        return SND_CHMAP_TFL;
    case speaker::top_front_centre:
        return SND_CHMAP_TFC;
    case speaker::top_front_right:
        return SND_CHMAP_TFR;
    case speaker::top_back_left:
        return SND_CHMAP_TRL;
    case speaker::top_back_centre:
        return SND_CHMAP_TRC;
    case speaker::top_back_right:
        return SND_CHMAP_TRR;
    }
    return SND_CHMAP_UNKNOWN;
}

// Whether the PCM can be told where each channel goes: a card can. PipeWire's plugin takes a map
// and says it holds it, but has built its stream by then and plays the channels in ALSA's
// standard order all the same (measured with pipewire-alsa 0.3.65), as PulseAudio's, which takes
// no map, does.
bool takes_maps(snd_pcm_t *pcm) {
    if (snd_pcm_type(pcm) != SND_PCM_TYPE_HW)
        return false;
    snd_pcm_chmap_query_t **maps = snd_pcm_query_chmaps(pcm);
    if (!maps)
        return false;
    snd_pcm_free_chmaps(maps);
    return true;
}

// Where a PCM that is set up sends each of channels channels; none where it does not say.
channel_layout map_of(snd_pcm_t *pcm, unsigned channels) {
    channel_layout layout{};
    snd_pcm_chmap_t *map = snd_pcm_get_chmap(pcm);
    if (!map)
        return layout;
    if (map->channels == channels && channels <= most_placed) {
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned s = 0; s <= static_cast<unsigned>(speaker::top_back_right); ++s) {
                if (s != 0 && alsa_position(static_cast<speaker>(s)) == map->pos[c])
                    layout[c] = static_cast<speaker>(s);
            }
        }
    }
    std::free(map);
    return layout;
}

// Tells a card that is set up where each channel goes, where its map can be set.
void tell_map(snd_pcm_t *pcm, const channel_layout &layout, unsigned channels) {
    // The map is its channel count followed by a position for each.
    unsigned map[1 + most_placed] = {channels};
    for (unsigned c = 0; c < channels; ++c)
        map[1 + c] = alsa_position(layout[c]);
    snd_pcm_set_chmap(pcm, reinterpret_cast<const snd_pcm_chmap_t *>(map));
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
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;
    if (!set_up(buffer, period)) {
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
    frame_bytes_ = sample_bytes(played_) * route_.out_channels();
    buffer_frames_ = buffer;
    period_frames_ = std::max<snd_pcm_uframes_t>(period, 1);
    history_.reset(buffer_frames_, frame_bytes_);
    return true;
}

// The stream as the file has it where the PCM takes that, else doubles as floats, which a sound
// server may take where it takes no doubles. More than two channels go where the file means them:
// the PCM is told so where it can be, and elsewhere they are put in the order it assumes.
bool alsa_output::set_up(snd_pcm_uframes_t &buffer, snd_pcm_uframes_t &period) {
    const bool mappable = channels_ > 2 && channels_ <= most_placed &&
                          layout_[channels_ - 1] != speaker::none && takes_maps(pcm_);
    for (const sample_format played : {format_, sample_format::f32}) {
        if (played != format_ && format_ != sample_format::f64)
            break;
        played_ = played;
        route_.plan(layout_, channels_);
        // A card is told the file's map; where it holds to its own, the channels are put in
        // its order.
        if (mappable) {
            if (configure(pcm_, alsa_format(played), channels_, rate_, buffer, period,
                          can_pause_)) {
                if (map_of(pcm_, channels_) != layout_)
                    tell_map(pcm_, layout_, channels_);
                const channel_layout held = map_of(pcm_, channels_);
                if (held == layout_) {
                    route_.plan({}, channels_);
                    return true;
                }
                if (held[channels_ - 1] != speaker::none &&
                    route_.plan_into(layout_, channels_, held, channels_))
                    return true;
            }
            snd_pcm_hw_free(pcm_);
            route_.plan(layout_, channels_);
        }
        if (configure(pcm_, alsa_format(played), route_.out_channels(), rate_, buffer, period,
                      can_pause_))
            return true;
        snd_pcm_hw_free(pcm_);
    }
    return false;
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
    if (played_ != format_) {
        const auto *doubles = static_cast<const double *>(frames);
        narrowed_.resize(count * channels_);
        for (std::size_t i = 0; i < narrowed_.size(); ++i)
            narrowed_[i] = static_cast<float>(doubles[i]);
        frames = narrowed_.data();
    }
    if (!route_.moves())
        return write_out(frames, count, control);
    route_.apply(frames, count, sample_bytes(played_), routed_);
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
        paused = can_pause_ && !posix::sound_held() && snd_pcm_pause(pcm_, 1) == 0;
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
