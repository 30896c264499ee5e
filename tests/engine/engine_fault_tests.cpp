// Tests of the engine's playback thread against a device that fills up, takes writes in pieces,
// underruns, suspends, disappears, pauses, cannot pause or wakes its poller without room. The ALSA
// calls the engine makes are wrapped at link time in front of the null PCM; the frames the device
// has played are kept here.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/eventfd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "mci_calls.h"
#include "platform/posix/hooks.h"
#include "support.h"

namespace {

using namespace support;

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
    bool can_pause = true, hw_paused = false, wrote_while_paused = false, takes_nothing = false;
    // Plays at the track's 8 kHz from its first write, with its descriptor readable throughout,
    // and reports room only once a period of it is there.
    bool clocked = false;
    std::chrono::steady_clock::time_point started;
    long unplayed_cap = 0, unplayed = 0; // frames written that a drop or prepare loses
    int writes = 0, refused = 0, resumes = 0, pauses = 0, drops = 0, delays = 0;
    bytes heard;

    ~fake_device() { close(fd); }
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
    template <typename F> bool await(F done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), done);
    }
};

fake_device *device;
std::atomic<int> polls{0};

} // namespace

extern "C" {
snd_pcm_sframes_t __real_snd_pcm_writei(snd_pcm_t *, const void *, snd_pcm_uframes_t);
int __real_snd_pcm_drop(snd_pcm_t *);
int __real_snd_pcm_prepare(snd_pcm_t *);
snd_pcm_sframes_t __real_snd_pcm_avail_update(snd_pcm_t *);
int __real_poll(pollfd *, nfds_t, int);

int __wrap_poll(pollfd *fds, nfds_t count, int ms) {
    ++polls;
    return __real_poll(fds, count, ms);
}

snd_pcm_sframes_t __wrap_snd_pcm_avail_update(snd_pcm_t *pcm) {
    std::lock_guard<std::mutex> lock(device->mutex);
    snd_pcm_uframes_t period;
    return device->clocked ? device->room(pcm, period) : __real_snd_pcm_avail_update(pcm);
}

snd_pcm_sframes_t __wrap_snd_pcm_writei(snd_pcm_t *pcm, const void *data, snd_pcm_uframes_t n) {
    fake_device &d = *device;
    std::lock_guard<std::mutex> lock(d.mutex);
    const int call = ++d.writes;
    d.changed.notify_all();
    d.wrote_while_paused |= d.hw_paused;
    if (d.broken || d.takes_nothing)
        return d.takes_nothing ? 0 : d.broken;
    const bool again = d.every && call > d.fail_at && (call - d.fail_at) % d.every == 0;
    if (d.fail_at && (call == d.fail_at || again)) {
        if (d.fault == -EPIPE || d.fault == -ESTRPIPE)
            d.broken = d.fault;
        return d.fault;
    }
    if (d.credit == 0 && ++d.refused)
        return -EAGAIN;
    n = std::min<snd_pcm_uframes_t>(n, d.credit > 0 ? d.credit : n);
    n = std::min<snd_pcm_uframes_t>(n, d.piece > 0 ? 1 + call % d.piece : n);
    const snd_pcm_sframes_t done = __real_snd_pcm_writei(pcm, data, n);
    if (done > 0) {
        const auto *b = static_cast<const unsigned char *>(data);
        if (d.heard.empty())
            d.started = std::chrono::steady_clock::now();
        d.heard.insert(d.heard.end(), b, b + snd_pcm_frames_to_bytes(pcm, done));
        d.unplayed = std::min(d.unplayed + done, d.unplayed_cap);
        if (d.credit > 0 && (d.credit -= done) == 0 && !d.wait_fault)
            d.ready(false);
    }
    return done;
}

int __wrap_snd_pcm_poll_descriptors_count(snd_pcm_t *) {
    return 1;
}

int __wrap_snd_pcm_poll_descriptors(snd_pcm_t *, struct pollfd *fds, unsigned) {
    fds[0] = pollfd{device->fd, POLLIN, 0};
    return 1;
}

int __wrap_snd_pcm_poll_descriptors_revents(snd_pcm_t *pcm, struct pollfd *fds, unsigned count,
                                            unsigned short *revents) {
    std::lock_guard<std::mutex> lock(device->mutex);
    snd_pcm_uframes_t period = 0;
    const bool room = !device->clocked || device->room(pcm, period) >= long(period);
    *revents = (count == 1 && (fds[0].revents & POLLIN) && room) ? POLLOUT : 0;
    return device->wait_fault;
}

// A prepare, like a drop, loses what the device had not played yet.
int __wrap_snd_pcm_prepare(snd_pcm_t *pcm) {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->broken = 0;
    device->lose_unplayed();
    return __real_snd_pcm_prepare(pcm);
}

int __wrap_snd_pcm_resume(snd_pcm_t *) {
    std::lock_guard<std::mutex> lock(device->mutex);
    ++device->resumes;
    device->changed.notify_all();
    if (device->resume_busy > 0 && device->resume_busy-- > 0)
        return -EAGAIN;
    device->broken = 0;
    return 0;
}

int __wrap_snd_pcm_hw_params_can_pause(const snd_pcm_hw_params_t *) {
    return device->can_pause;
}

int __wrap_snd_pcm_pause(snd_pcm_t *, int enable) {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->pauses += enable;
    device->hw_paused = enable;
    device->changed.notify_all();
    return 0;
}

int __wrap_snd_pcm_delay(snd_pcm_t *, snd_pcm_sframes_t *delay) {
    std::lock_guard<std::mutex> lock(device->mutex);
    *delay = device->unplayed;
    ++device->delays;
    device->changed.notify_all();
    return 0;
}

int __wrap_snd_pcm_drop(snd_pcm_t *pcm) {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->lose_unplayed();
    ++device->drops;
    device->changed.notify_all();
    return __real_snd_pcm_drop(pcm);
}
}

namespace {

class EngineFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        device = &fake;
        // Three seconds of 16-bit mono at 8 kHz, three periods: more than any test lets through
        // before it acts, and the last waits a second for a clocked device's room.
        track = write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 24000);
        setenv("AUDIODEV", "null", 1);
        ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    }
    void TearDown() override { close_device(id); }
    // Changes the device under its lock, as the playback thread sees it.
    template <typename F> void set(F change) {
        std::lock_guard<std::mutex> lock(fake.mutex);
        change(fake);
        fake.ready(fake.credit != 0 || fake.wait_fault != 0 || fake.takes_nothing);
    }

    fake_device fake;
    temp_folder dir;
    bytes track;
    mci::device_id id = 0;
};

struct fault_case {
    const char *name;
    int fail_at, fault, every, piece, resume_busy, wait_fault;
    bool clocked;
    int resumes; // how many resumes it takes, or -1; and with none, the track is heard whole
};

class EngineDeviceFaults : public EngineFaults, public ::testing::WithParamInterface<fault_case> {};

TEST_P(EngineDeviceFaults, LoseNoFrameOrGiveUpQuietly) {
    const fault_case c = GetParam();
    set([&c](fake_device &d) {
        d.fail_at = c.fail_at, d.fault = c.fault, d.every = c.every, d.piece = c.piece;
        d.resume_busy = c.resume_busy, d.wait_fault = c.wait_fault, d.clocked = c.clocked;
        d.credit = c.wait_fault ? 3000 : -1;
    });
    polls = 0;
    ASSERT_EQ(play(id, mci::wait), 0u);
    // A wait a period at most, and a few for recoveries: a thread that spins polls thousands.
    EXPECT_LT(polls, 10);
    std::lock_guard<std::mutex> lock(fake.mutex);
    if (c.every == 1 || c.wait_fault) {
        EXPECT_LT(fake.heard.size(), track.size());
        EXPECT_TRUE(std::equal(fake.heard.begin(), fake.heard.end(), track.begin()));
        EXPECT_LT(fake.writes, 10) << "a lost device was written to again and again";
    } else {
        EXPECT_TRUE(fake.heard == track);
    }
    EXPECT_TRUE(c.resumes < 0 || fake.resumes == c.resumes) << fake.resumes;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EngineDeviceFaults,
    ::testing::Values(fault_case{"underrun", 3, -EPIPE, 0, 0, 0, 0, false, -1},
                      fault_case{"suspend_resume_retried", 3, -ESTRPIPE, 0, 0, 3, 0, false, 4},
                      fault_case{"short_writes", 0, 0, 0, 97, 0, 0, false, -1},
                      fault_case{"underruns_after_short_writes", 2, -EPIPE, 7, 333, 0, 0, false,
                                 -1},
                      fault_case{"lost", 3, -ENODEV, 1, 0, 0, 0, false, -1},
                      fault_case{"underruns_for_good", 3, -EPIPE, 1, 0, 0, 0, false, -1},
                      fault_case{"lost_waiting_for_room", 0, 0, 0, 0, 0, -ENODEV, false, -1},
                      fault_case{"readable_without_room", 0, 0, 0, 0, 0, 0, true, -1}),
    [](const auto &info) { return std::string(info.param.name); });

class EnginePause : public EngineFaults,
                    public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

// Paused once the full device has refused a write, so that the request meets the thread in its
// wait for room, and where the frames it had not played wrap around the end of the engine's ring;
// then resumed on a device with room. Whether the device pauses itself or is dropped, the whole
// track is heard once: a drop loses the frames it had queued, and they must be written again.
// Ctrl-Z's hold does the same for every device, and returns only once the device is silent.
TEST_P(EnginePause, ResumeGoesOnWithoutLossOrRepeat) {
    const auto [can_pause, ctrl_z] = GetParam();
    // Half a second past the end of the engine's two-second ring: the unplayed frames straddle it.
    set([&](fake_device &d) { d.credit = 16500, d.unplayed_cap = 1000, d.can_pause = can_pause; });
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(fake.await([this] { return fake.refused > 0; }));
    if (ctrl_z)
        posix::hold_sound(true);
    else
        ASSERT_EQ(plat::mci_send(id, mci::pause, 0, 0), 0u);
    EXPECT_TRUE(ctrl_z ? fake.pauses + fake.drops > 0
                       : fake.await([this] { return fake.pauses + fake.drops > 0; }));
    set([](fake_device &d) { d.credit = -1, d.unplayed_cap = 0; });
    if (ctrl_z)
        posix::hold_sound(false);
    else
        ASSERT_EQ(plat::mci_send(id, mci::resume, 0, 0), 0u);
    ASSERT_TRUE(fake.await([this] { return fake.heard.size() >= track.size(); }));
    std::lock_guard<std::mutex> lock(fake.mutex);
    EXPECT_EQ(fake.pauses, can_pause ? 1 : 0);
    EXPECT_FALSE(fake.wrote_while_paused);
    EXPECT_TRUE(fake.heard == track);
}

// Named by the device (pausing or dropping) and the request (MCI's pause or Ctrl-Z's hold).
INSTANTIATE_TEST_SUITE_P(Devices, EnginePause,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// A device unplugged while it plays is named on standard error, as a fresh run's first notice.
TEST_F(EngineFaults, ALostDeviceIsNamed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    set([](fake_device &d) { d.fail_at = 3, d.fault = -ENODEV; });
    EXPECT_EXIT((play(id, mci::wait), std::exit(0)), ::testing::ExitedWithCode(0),
                "kestrova: no sound: lost ALSA PCM \"null\" \\(No such device\\); set AUDIODEV");
}

// A close drops the device at once, whatever the thread is waiting for.
TEST_F(EngineFaults, CloseInterruptsEveryWait) {
    set([](fake_device &d) { d.credit = 3000; });
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(fake.await([this] { return fake.refused > 0; }));
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(close_device(id), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(4))
        << "the close waited on the device";
    EXPECT_EQ(fake.drops, 1);
    EXPECT_TRUE(fake.heard == bytes(track.begin(), track.begin() + 6000));

    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    set([](fake_device &d) {
        d.credit = -1, d.fail_at = d.writes + 3, d.fault = -ESTRPIPE, d.resume_busy = 1 << 30;
    });
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(fake.await([this] { return fake.resumes >= 2; }));
    EXPECT_EQ(close_device(id), 0u);
}

// At the end of a track the thread waits while the device still holds frames, looking again as
// they play, rather than ending and taking the last of them with it. A track shorter than a
// period never started the device by its writes: it must be started, or it is never heard.
TEST_F(EngineFaults, TheEndWaitsForTheLastFramesToPlay) {
    close_device(id);
    track = write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 4000);
    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    set([](fake_device &d) { d.unplayed_cap = 800; });
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(fake.await([this] { return fake.heard == track && fake.delays >= 3; }));
    EXPECT_EQ(fake.drops, 0);
}

// A device that reports room but takes nothing: each further try waits a while, so that sixty
// take more than a second rather than spinning through them in a moment.
TEST_F(EngineFaults, RoomThatTakesNothingDoesNotSpin) {
    set([](fake_device &d) { d.takes_nothing = true; });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(fake.await([this] { return fake.writes >= 60; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

} // namespace
