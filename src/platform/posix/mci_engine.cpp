// The Linux MCI engine behind plat::mci_send: files decoded by libsndfile, played through ALSA.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/alsa_output.h"
#include "platform/posix/hooks.h"
#include "platform/posix/play_control.h"
#include "platform/posix/sound_file.h"

namespace plat {
namespace {

using audio::file_kinds;

// Frames are decoded and handed to the device a period at a time: the output writes only once a
// period's room is free, so each wake-up of the playback thread costs one read of the file and
// one write. A chunk is held to this many bytes, whatever the period of a rate and channel count.
constexpr std::size_t chunk_bytes_limit = 1 << 20;

bool same_name(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

// What one play hands its thread. The thread holds it as well, so that a thread the engine has
// let go keeps its file and control, and frees them itself if it ever returns.
struct playback {
    audio::sound_file file;
    audio::play_control control;
    std::string pcm;
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;  // the thread has closed its device
    bool let_go = false; // the engine waits for it no more
};

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

// One open element. Its playback thread alone touches the file and the PCM while it runs.
class device {
  public:
    device() = default;
    device(const device &) = delete;
    device &operator=(const device &) = delete;
    ~device() { stop(); }

    mci::error open(const char *element, file_kinds kinds) {
        element_ = element;
        kinds_ = kinds;
        return fresh();
    }

    mci::error play(mci::dword_ptr flags, const mci::play_parms *parms) {
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
        thread_ = std::thread(&device::run, now_);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (flags & mci::wait)
            thread_.join();
        return 0;
    }

    // A device whose thread was let go has nothing to pause until its next play.
    void pause() {
        if (now_)
            now_->control.set_paused(true);
    }
    void resume() {
        if (now_)
            now_->control.set_paused(false);
    }
    std::uint32_t length_ms() const { return length_ms_; }

  private:
    // A device opened for each play that follows a thread let go, which took the last with it.
    mci::error fresh() {
        auto next = std::make_shared<playback>();
        const mci::error failed = next->file.open(element_.c_str(), kinds_);
        length_ms_ = next->file.length_ms();
        now_ = std::move(next);
        return failed;
    }

    // Waits a second at most: a sound server that hangs holds alsa-lib's drop, close and open
    // for ever, and the player must go on answering. A thread still busy then is let go.
    void stop() {
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
        char line[512];
        std::snprintf(line, sizeof line,
                      "kestrova: no sound: ALSA PCM \"%s\" does not answer; set AUDIODEV, see "
                      "'aplay -L'",
                      now_->pcm.c_str());
        lock.unlock();
        thread_.detach();
        now_.reset();
        posix::notify(line);
    }

    static void run(std::shared_ptr<playback> p) {
        play_through(*p);
        std::lock_guard<std::mutex> lock(p->mutex);
        p->ended = true;
        if (p->let_go)
            stuck.remove(p->pcm);
        p->changed.notify_all();
    }

    static void play_through(playback &p) {
        audio::sound_file &file = p.file;
        audio::alsa_output output;
        if (!output.open(p.pcm.c_str(), file.format(), file.channels(), file.rate()))
            return;
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

    std::string element_;
    file_kinds kinds_ = file_kinds::wave;
    std::uint32_t length_ms_ = 0;
    // The file and control of the thread that plays now, or of the next play.
    std::shared_ptr<playback> now_;
    std::thread thread_;
    // Taken from the play command and kept; no notice is ever sent to it.
    mci::dword_ptr notice_window_ = 0;
};

class engine {
  public:
    // Closes every device, as the way out does; true when no thread is left in a sound device.
    bool close_all() {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_.clear();
        return !stuck.any();
    }

    mci::error send(mci::device_id id, std::uint32_t message, mci::dword_ptr flags,
                    mci::dword_ptr params) {
        std::lock_guard<std::mutex> lock(mutex_);
        switch (message) {
        case mci::open:
            return open(flags, reinterpret_cast<mci::open_parms *>(params));
        case mci::close:
            return devices_.erase(id) ? 0 : mci::err_invalid_device_id;
        case mci::play:
        case mci::pause:
        case mci::resume:
        case mci::status:
            break;
        default:
            return mci::err_unrecognized_command;
        }
        const auto found = devices_.find(id);
        if (found == devices_.end())
            return mci::err_invalid_device_id;
        device &dev = *found->second;
        switch (message) {
        case mci::play:
            if ((flags & (mci::notify | mci::from)) && params == 0)
                return mci::err_missing_parameter;
            return dev.play(flags, reinterpret_cast<const mci::play_parms *>(params));
        case mci::pause:
            dev.pause();
            return 0;
        case mci::resume:
            dev.resume();
            return 0;
        default:
            return status(dev, flags, reinterpret_cast<mci::status_parms *>(params));
        }
    }

  private:
    mci::error open(mci::dword_ptr flags, mci::open_parms *parms) {
        if (!parms)
            return mci::err_missing_parameter;
        parms->wDeviceID = 0;
        if (!(flags & mci::open_type) || !parms->lpstrDeviceType || !(flags & mci::open_element) ||
            !parms->lpstrElementName)
            return mci::err_missing_parameter;
        file_kinds kinds;
        if (same_name(parms->lpstrDeviceType, "waveaudio"))
            kinds = file_kinds::wave;
        else if (same_name(parms->lpstrDeviceType, "MPEGVideo"))
            kinds = file_kinds::wave_or_mpeg;
        else
            return mci::err_invalid_device_name;

        auto dev = std::make_unique<device>();
        if (const mci::error failed = dev->open(parms->lpstrElementName, kinds))
            return failed;
        do
            ++last_id_;
        while (last_id_ == 0 || devices_.count(last_id_));
        devices_.emplace(last_id_, std::move(dev));
        parms->wDeviceID = last_id_;
        return 0;
    }

    static mci::error status(const device &dev, mci::dword_ptr flags, mci::status_parms *parms) {
        if (!parms || !(flags & mci::status_item))
            return mci::err_missing_parameter;
        if (parms->dwItem != mci::status_length)
            return mci::err_unsupported_function;
        parms->dwReturn = dev.length_ms();
        return 0;
    }

    std::mutex mutex_;
    std::map<mci::device_id, std::unique_ptr<device>> devices_;
    mci::device_id last_id_ = 0;
};

// Never destroyed: the way out closes its devices first, and a thread let go may still use it.
engine &the_engine() {
    static engine &instance = []() -> engine & {
        posix::stop_sound_with([] { return the_engine().close_all(); });
        return *new engine;
    }();
    return instance;
}

} // namespace

mci::error mci_send(mci::device_id device, std::uint32_t message, mci::dword_ptr flags,
                    mci::dword_ptr params) {
    try {
        return the_engine().send(device, message, flags, params);
    } catch (const std::bad_alloc &) {
        return mci::err_out_of_memory;
    } catch (...) {
        return mci::err_hardware;
    }
}

} // namespace plat
