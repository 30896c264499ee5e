// One open MCI element on Linux, played through ALSA on a thread of its own.
#include "platform/posix/mci_device.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "common/controls.h"
#include "platform/posix/alsa_output.h"
#include "platform/posix/hooks.h"
#include "platform/posix/play_control.h"

namespace plat {

// What one play hands its thread. The thread holds it as well, so that a thread the engine has
// let go keeps its file and control, and frees them itself if it ever returns.
struct playback {
    std::string name;
    audio::sound_file file;
    audio::play_control control;
    std::string pcm;
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;  // the thread has closed its device
    bool let_go = false; // the engine waits for it no more
};

namespace {

// Frames are decoded and handed to the device a period at a time: the output writes only once a
// period's room is free, so each wake-up of the playback thread costs one read of the file and
// one write. A chunk is held to this many bytes, whatever the period of a rate and channel count.
constexpr std::size_t chunk_bytes_limit = 1 << 20;

// The PCMs that a thread let go is still stuck in. No new thread starts on one of them, so that a
// sound server that hangs costs one stuck thread, not one a track; each track tries again.
class stuck_pcms {
  public:
    void add(const std::string &pcm) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_.insert(pcm);
    }
    void remove(const std::string &pcm) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_.erase(names_.find(pcm));
    }
    bool has(const std::string &pcm) {
        std::lock_guard<std::mutex> lock(mutex_);
        return names_.count(pcm) > 0;
    }
    bool any() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !names_.empty();
    }

  private:
    std::mutex mutex_;
    std::multiset<std::string> names_;
};

// Never destroyed: a thread let go may come back to it while the process exits.
stuck_pcms &stuck = *new stuck_pcms;

// A track that does not play is named as one that cannot be opened is, each time it plays: its
// silence would pass for play.
void say_cannot_play(const playback &p, const char *reason) {
    char shown[256];
    const std::size_t length = std::min(p.name.size(), sizeof shown - 1);
    mask_controls(p.name.c_str(), length, shown);
    shown[length] = '\0';
    char line[512];
    std::snprintf(line, sizeof line, "kestrova: cannot play \"%s\": %s", shown, reason);
    posix::notify(line, false);
}

// A track that decodes to nothing, or stops more than a second short of its length.
void say_stopped_short(const playback &p, std::int64_t first) {
    const audio::sound_file &file = p.file;
    const auto rate = static_cast<std::int64_t>(file.rate());
    if (file.frames() - file.position() <= rate)
        return;
    char reason[64] = "no sound in it can be decoded";
    if (file.position() > first) {
        const std::int64_t at = file.position() / rate;
        const std::int64_t all = file.frames() / rate;
        std::snprintf(reason, sizeof reason, "it stops at %lld:%02lld of %lld:%02lld",
                      static_cast<long long>(at / 60), static_cast<long long>(at % 60),
                      static_cast<long long>(all / 60), static_cast<long long>(all % 60));
    }
    say_cannot_play(p, reason);
}

void play_through(playback &p) {
    audio::sound_file &file = p.file;
    audio::alsa_output output;
    if (!output.open(p.pcm.c_str(), file.format(), file.channels(), file.rate(), file.layout())) {
        if (!output.refusal().empty())
            say_cannot_play(p, output.refusal().c_str());
        return;
    }
    // Counted while it plays, so that a Ctrl-Z waits for it to fall silent.
    posix::sound_playing(true);
    struct uncount {
        ~uncount() { posix::sound_playing(false); }
    } counted;
    const std::size_t frames = std::max<std::size_t>(
        1, std::min(output.period_frames(), chunk_bytes_limit / file.frame_bytes()));
    std::vector<unsigned char> chunk(frames * file.frame_bytes());
    const std::int64_t first = file.position();
    for (;;) {
        const std::size_t got = file.read(chunk.data(), frames);
        if (got == 0) {
            say_stopped_short(p, first);
            output.finish(p.control);
            return;
        }
        if (output.write(chunk.data(), got, p.control))
            continue;
        // Lost, as a sound server that restarts is: tried again for the rest of the track,
        // which goes on where the player's clock has come to, skipping what went unheard.
        std::int64_t now = 0;
        for (bool open = false; !open;) {
            open = output.reopen(p.control);
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(p.control.played());
            now = first + us.count() * static_cast<std::int64_t>(file.rate()) / 1000000;
            if (p.control.stop_requested() || now >= file.frames())
                return;
        }
        if (!file.seek_frame(now))
            return;
    }
}

void run(std::shared_ptr<playback> p) {
    play_through(*p);
    std::lock_guard<std::mutex> lock(p->mutex);
    p->ended = true;
    if (p->let_go)
        stuck.remove(p->pcm);
    p->changed.notify_all();
}

} // namespace

mci_device::~mci_device() {
    stop();
}

mci::error mci_device::open(const char *element, audio::file_kinds kinds) {
    element_ = element;
    kinds_ = kinds;
    return fresh();
}

mci::error mci_device::play(mci::dword_ptr flags, const mci::play_parms *parms) {
    stop();
    if (!now_) {
        if (const mci::error failed = fresh())
            return failed;
    }
    if (flags & mci::notify)
        notice_window_ = parms->dwCallback;
    if ((flags & mci::from) && !now_->file.seek_ms(parms->dwFrom))
        return mci::err_hardware;
    // Read here rather than on the playback thread, which must not race a setenv.
    const char *name = std::getenv("AUDIODEV");
    now_->pcm = name && *name ? name : "default";
    now_->control.reset();
    // Timed in silence, as for a device that cannot be opened.
    if (stuck.has(now_->pcm))
        return 0;
    // The playback thread takes no signals: Ctrl-C, Ctrl-Z and the rest are handled on the
    // player's own thread, which restores the terminal, whatever the playback thread is in.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    thread_ = std::thread(run, now_);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (flags & mci::wait)
        thread_.join();
    return 0;
}

// A device whose thread was let go has nothing to pause until its next play.
void mci_device::pause() {
    if (now_)
        now_->control.set_paused(true);
}
void mci_device::resume() {
    if (now_)
        now_->control.set_paused(false);
}

// A device opened for each play that follows a thread let go, which took the last with it.
mci::error mci_device::fresh() {
    auto next = std::make_shared<playback>();
    next->name = element_;
    const mci::error failed = next->file.open(element_.c_str(), kinds_);
    length_ms_ = next->file.length_ms();
    reason_ = next->file.reason();
    now_ = std::move(next);
    return failed;
}

// Waits a second at most: a sound server that hangs holds alsa-lib's drop, close and open
// for ever, and the player must go on answering. A thread still busy then is let go.
void mci_device::stop() {
    if (!thread_.joinable())
        return;
    now_->control.request_stop();
    std::unique_lock<std::mutex> lock(now_->mutex);
    if (now_->changed.wait_for(lock, std::chrono::seconds(1), [this] { return now_->ended; })) {
        lock.unlock();
        thread_.join();
        return;
    }
    now_->let_go = true;
    stuck.add(now_->pcm);
    char why[300];
    std::snprintf(why, sizeof why, "ALSA PCM \"%s\" does not answer", now_->pcm.c_str());
    lock.unlock();
    thread_.detach();
    now_.reset();
    audio::say_no_sound(why);
}

bool mci_device::any_stuck() {
    return stuck.any();
}

} // namespace plat
