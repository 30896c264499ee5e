// The fake sound device of the engine's fault tests: the ALSA calls the engine makes are wrapped at
// link time in front of the null PCM, and the frames the device has played are kept here.
#pragma once

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/eventfd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "mci_calls.h"
#include "support.h"

namespace fault {

using support::bytes;

// The device's state, shared by the playback thread (in the wrappers) and the test.
struct fake_device {
    std::mutex mutex;
    std::condition_variable changed;
    int fd = eventfd(0, EFD_NONBLOCK); // readable while the device has room
    long credit = -1;                  // frames taken before the buffer is full; -1 never fills
    int fail_at = 0, fault = 0;        // the write, counted from 1, that meets fault
    int every = 0;                     // and, when nonzero, every every-th write after it
    long piece = 0;                    // when nonzero, a write takes 1 to piece frames
    int wait_fault = 0, resume_busy = 0, broken = 0;
    int open_refusals = 0; // opens after the first that fail, as with no sound server there
    // The call that waits until the test lets it go on, as alsa-lib does for a hung server.
    enum call { none, open, drop, close } block = none;
    bool inside = false; // a call is waiting for the test
    std::chrono::steady_clock::time_point reopened;
    bool can_pause = true, hw_paused = false, wrote_while_paused = false, takes_nothing = false;
    // Plays at the track's 8 kHz from its first write, with its descriptor readable throughout,
    // and reports room only once a period of it is there.
    bool clocked = false;
    std::chrono::steady_clock::time_point started;
    long unplayed_cap = 0, unplayed = 0; // frames written that a drop or prepare loses
    int writes = 0, refused = 0, resumes = 0, pauses = 0, drops = 0, delays = 0, opens = 0,
        closes = 0, files_closed = 0;
    bytes heard;

    ~fake_device() { ::close(fd); }
    void lose_unplayed() {
        heard.resize(heard.size() - static_cast<std::size_t>(unplayed) * 2);
        unplayed = 0;
    }
    long room(snd_pcm_t *pcm, snd_pcm_uframes_t &period) {
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_get_params(pcm, &buffer, &period);
        const std::chrono::duration<double> played = std::chrono::steady_clock::now() - started;
        const auto queued = static_cast<long>(heard.size() / 2) - long(played.count() * 8000);
        return static_cast<long>(buffer) - std::max(queued, 0L);
    }
    void ready(bool room) {
        std::uint64_t n = 1;
        [[maybe_unused]] auto r = room ? write(fd, &n, sizeof n) : read(fd, &n, sizeof n);
        changed.notify_all();
    }
    void hold_if_blocked(call c) {
        std::unique_lock<std::mutex> lock(mutex);
        if (block != c)
            return;
        inside = true;
        changed.notify_all();
        changed.wait(lock, [&] { return block != c; });
        inside = false;
    }
    template <typename F> bool await(F done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), done);
    }
};

extern fake_device *device;
// Every poll() the engine makes: a thread that spins shows as thousands.
extern std::atomic<int> polls;

class EngineFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        device = &fake;
        // Three seconds of 16-bit mono at 8 kHz, three periods: more than any test lets through
        // before it acts, and the last waits a second for a clocked device's room.
        track =
            support::write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 24000);
        setenv("AUDIODEV", "null", 1);
        ASSERT_EQ(support::open_file("waveaudio", dir / "t.wav", id), 0u);
    }
    void TearDown() override { support::close_device(id); }
    // Changes the device under its lock, as the playback thread sees it.
    template <typename F> void set(F change) {
        std::lock_guard<std::mutex> lock(fake.mutex);
        change(fake);
        fake.ready(fake.credit != 0 || fake.wait_fault != 0 || fake.takes_nothing);
    }

    fake_device fake;
    support::temp_folder dir;
    bytes track;
    mci::device_id id = 0;
};

} // namespace fault
