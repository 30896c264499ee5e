// The Linux MCI engine behind plat::mci_send: files decoded by libsndfile, played through ALSA.
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "common/ascii.h"
#include "platform/platform.h"
#include "platform/posix/hooks.h"
#include "platform/posix/mci_device.h"

namespace plat {
namespace {

using audio::file_kinds;

bool same_name(const char *a, const char *b) {
    return ascii::same_text(a, b);
}

class engine {
  public:
    // The words for an error: the reason that the last open to fail with it found.
    bool error_text(mci::error error, char *text, std::size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error != last_error_ || last_reason_.empty() || size == 0)
            return false;
        std::snprintf(text, size, "%s", last_reason_.c_str());
        return true;
    }

    // Closes every device, as the way out does; true when no thread is left in a sound device.
    bool close_all() {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_.clear();
        return !mci_device::any_stuck();
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
        mci_device &dev = *found->second;
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
            kinds = file_kinds::any;
        else
            return mci::err_invalid_device_name;

        auto dev = std::make_unique<mci_device>();
        if (const mci::error failed = dev->open(parms->lpstrElementName, kinds)) {
            last_error_ = failed;
            last_reason_ = dev->reason();
            return failed;
        }
        do
            ++last_id_;
        while (last_id_ == 0 || devices_.count(last_id_));
        devices_.emplace(last_id_, std::move(dev));
        parms->wDeviceID = last_id_;
        return 0;
    }

    static mci::error status(const mci_device &dev, mci::dword_ptr flags,
                             mci::status_parms *parms) {
        if (!parms || !(flags & mci::status_item))
            return mci::err_missing_parameter;
        if (parms->dwItem != mci::status_length)
            return mci::err_unsupported_function;
        parms->dwReturn = dev.length_ms();
        return 0;
    }

    std::mutex mutex_;
    std::map<mci::device_id, std::unique_ptr<mci_device>> devices_;
    mci::error last_error_ = 0;
    std::string last_reason_;
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

bool mci_error_text(mci::error error, char *text, std::size_t size) {
    return the_engine().error_text(error, text, size);
}

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
