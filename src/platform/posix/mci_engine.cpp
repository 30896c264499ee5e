// The Linux MCI engine behind plat::mci_send: files decoded by libsndfile, played through ALSA.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/alsa_output.h"
#include "platform/posix/ascii.h"
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
    return posix::same_ascii_text(a, b);
}

// One open element. Its playback thread alone touches the file and the PCM while it runs;
// the engine's thread touches the file only once that thread has been joined.
class device {
  public:
    device() = default;
    device(const device &) = delete;
    device &operator=(const device &) = delete;
    ~device() { stop(); }

    mci::error open(const char *element, file_kinds kinds) { return file_.open(element, kinds); }

    mci::error play(mci::dword_ptr flags, const mci::play_parms *parms) {
        stop();
        if (flags & mci::notify)
            notice_window_ = parms->dwCallback;
        if ((flags & mci::from) && !file_.seek_ms(parms->dwFrom))
            return mci::err_hardware;
        // Read here rather than on the playback thread, which must not race a setenv.
        const char *name = std::getenv("AUDIODEV");
        // The playback thread takes no signals: Ctrl-C, Ctrl-Z and the rest are handled on the
        // player's own thread, which restores the terminal, whatever the playback thread is in.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        thread_ = std::thread(&device::run, this, std::string(name && *name ? name : "default"));
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (flags & mci::wait)
            thread_.join();
        return 0;
    }

    void pause() { control_.set_paused(true); }
    void resume() { control_.set_paused(false); }
    std::uint32_t length_ms() const { return file_.length_ms(); }

  private:
    void stop() {
        control_.request_stop();
        if (thread_.joinable())
            thread_.join();
        control_.reset();
    }

    void run(const std::string &pcm) {
        audio::alsa_output output;
        if (!output.open(pcm.c_str(), file_.format(), file_.channels(), file_.rate()))
            return;
        // Counted while its device is open, so that a Ctrl-Z waits for it to fall silent.
        posix::sound_playing(true);
        struct uncount {
            ~uncount() { posix::sound_playing(false); }
        } counted;
        const std::size_t frames = std::max<std::size_t>(
            1, std::min(output.period_frames(), chunk_bytes_limit / file_.frame_bytes()));
        std::vector<unsigned char> chunk(frames * file_.frame_bytes());
        for (;;) {
            const std::size_t got = file_.read(chunk.data(), frames);
            if (got == 0)
                break;
            if (!output.write(chunk.data(), got, control_))
                return;
        }
        output.finish(control_);
    }

    audio::sound_file file_;
    audio::play_control control_;
    std::thread thread_;
    // Taken from the play command and kept; no notice is ever sent to it.
    mci::dword_ptr notice_window_ = 0;
};

class engine {
  public:
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

engine &the_engine() {
    static engine instance;
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
