// One open MCI element on Linux, and the thread that plays it through ALSA.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/mci.h"
#include "platform/posix/sound_file.h"

namespace plat {

struct playback;

// Its playback thread alone touches the file and the PCM while it runs. The player's own thread
// never waits on it for more than a second: a sound server that hangs holds alsa-lib's open,
// drop and close for ever.
class mci_device {
  public:
    mci_device() = default;
    mci_device(const mci_device &) = delete;
    mci_device &operator=(const mci_device &) = delete;
    ~mci_device();

    mci::error open(const char *element, audio::file_kinds kinds);
    // Starts a thread that plays from parms' position, on the PCM that AUDIODEV names; with
    // mci::wait, returns once it has played to the end.
    mci::error play(mci::dword_ptr flags, const mci::play_parms *parms);
    void pause();
    void resume();
    std::uint32_t length_ms() const { return length_ms_; }
    // Why the last open or play failed to open its file.
    const char *reason() const { return reason_.c_str(); }

    // Whether a thread let go is still stuck in a sound device.
    static bool any_stuck();

  private:
    mci::error fresh();
    void stop();

    std::string element_;
    audio::file_kinds kinds_ = audio::file_kinds::wave;
    std::uint32_t length_ms_ = 0;
    std::string reason_;
    // The file and control of the thread that plays now, or of the next play.
    std::shared_ptr<playback> now_;
    std::thread thread_;
    // Taken from the play command and kept; no notice is ever sent to it.
    mci::dword_ptr notice_window_ = 0;
};

} // namespace plat
