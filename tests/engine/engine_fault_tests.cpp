// Tests of the engine's playback thread against a failing device.
// The device cannot be opened, fills up, takes writes in pieces, underruns, suspends and
// disappears: the ALSA calls the engine makes are wrapped at link time, in front of a file PCM.
#include <alsa/asoundlib.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine_fixture.h"

namespace {

using namespace engine_test;
using clock_type = std::chrono::steady_clock;

// The device's state, shared by the playback thread (in the wrappers) and the test.
struct fake_device {
    std::mutex mutex;
    std::condition_variable changed;
    long credit = -1; // frames taken before the buffer is full; -1 never fills
    int fail_at = 0;  // the write that meets fault, counted from 1; 0 for none
    int fault = 0;
    bool lasting = false; // every later write fails the same way
    int every = 0;        // and, when nonzero, every every-th write after it too
    long piece = 0;       // when nonzero, a write takes 1 to piece frames, varying
    int open_fault = 0;   // what opening the PCM answers; 0 opens it
    int wait_fault = 0;   // what waiting for room answers once the buffer is full
    int resume_busy = 0;  // times resume answers EAGAIN before it succeeds
    int broken = 0;       // EPIPE or ESTRPIPE until prepared or resumed
    int writes = 0, resumes = 0, prepares = 0, opens = 0, closes = 0;
    bool full = false;

    void reset() {
        std::lock_guard<std::mutex> lock(mutex);
        credit = -1;
        fail_at = fault = every = open_fault = wait_fault = resume_busy = broken = 0;
        writes = resumes = prepares = opens = closes = 0;
        piece = 0;
        lasting = full = false;
    }
    template <typename F> bool await(F ready, int ms = 5000) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), ready);
    }
};

fake_device device;

} // namespace

extern "C" {
int __real_snd_pcm_open(snd_pcm_t **, const char *, snd_pcm_stream_t, int);
snd_pcm_sframes_t __real_snd_pcm_writei(snd_pcm_t *, const void *, snd_pcm_uframes_t);
int __real_snd_pcm_wait(snd_pcm_t *, int);
int __real_snd_pcm_prepare(snd_pcm_t *);
int __real_snd_pcm_close(snd_pcm_t *);

int __wrap_snd_pcm_open(snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream, int mode) {
    std::unique_lock<std::mutex> lock(device.mutex);
    ++device.opens;
    device.changed.notify_all();
    if (device.open_fault)
        return device.open_fault;
    lock.unlock();
    return __real_snd_pcm_open(pcm, name, stream, mode);
}

snd_pcm_sframes_t __wrap_snd_pcm_writei(snd_pcm_t *pcm, const void *data, snd_pcm_uframes_t n) {
    std::unique_lock<std::mutex> lock(device.mutex);
    const int call = ++device.writes;
    device.changed.notify_all();
    if (device.broken)
        return device.broken;
    const bool again =
        device.every && call > device.fail_at && (call - device.fail_at) % device.every == 0;
    if (device.fail_at &&
        (call == device.fail_at || again || (device.lasting && call > device.fail_at))) {
        if (device.fault == -EPIPE || device.fault == -ESTRPIPE)
            device.broken = device.fault;
        return device.fault;
    }
    if (device.credit == 0) {
        device.full = true;
        return -EAGAIN;
    }
    if (device.credit > 0) {
        n = std::min<snd_pcm_uframes_t>(n, static_cast<snd_pcm_uframes_t>(device.credit));
        device.credit -= static_cast<long>(n);
    }
    if (device.piece > 0)
        n = std::min<snd_pcm_uframes_t>(n, static_cast<snd_pcm_uframes_t>(1 + call % device.piece));
    lock.unlock();
    return __real_snd_pcm_writei(pcm, data, n);
}

int __wrap_snd_pcm_wait(snd_pcm_t *pcm, int timeout) {
    std::unique_lock<std::mutex> lock(device.mutex);
    if (device.broken)
        return device.broken;
    if (device.credit == 0 && device.wait_fault)
        return device.wait_fault;
    if (device.credit == 0) {
        device.changed.wait_for(lock, std::chrono::milliseconds(timeout));
        return device.credit == 0 ? 0 : 1;
    }
    lock.unlock();
    return __real_snd_pcm_wait(pcm, timeout);
}

int __wrap_snd_pcm_prepare(snd_pcm_t *pcm) {
    std::unique_lock<std::mutex> lock(device.mutex);
    device.broken = 0;
    ++device.prepares;
    lock.unlock();
    return __real_snd_pcm_prepare(pcm);
}

int __wrap_snd_pcm_resume(snd_pcm_t *) {
    std::lock_guard<std::mutex> lock(device.mutex);
    ++device.resumes;
    device.changed.notify_all();
    if (device.resume_busy > 0) {
        --device.resume_busy;
        return -EAGAIN;
    }
    device.broken = 0;
    return 0;
}

int __wrap_snd_pcm_close(snd_pcm_t *pcm) {
    const int result = __real_snd_pcm_close(pcm);
    std::lock_guard<std::mutex> lock(device.mutex);
    ++device.closes;
    device.changed.notify_all();
    return result;
}
}

namespace {

class EngineFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        device.reset();
        // Ten seconds at 8 kHz: far more than any test lets through before it acts.
        track = write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 80000);
        capture_to(dir / "out.raw");
        ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    }
    void TearDown() override { close_device(id); }

    void set(long credit, int fail_at = 0, int fault = 0, bool lasting = false) {
        std::lock_guard<std::mutex> lock(device.mutex);
        device.credit = credit;
        device.fail_at = fault ? fail_at : 0;
        device.fault = fault;
        device.lasting = lasting;
        device.changed.notify_all();
    }
    // Changes the device under its lock, as the playback thread sees it.
    template <typename F> void configure(F change) {
        std::lock_guard<std::mutex> lock(device.mutex);
        change(device);
        device.changed.notify_all();
    }
    bool thread_ended() {
        return device.await([] { return device.closes > 0; });
    }
    int writes() {
        std::lock_guard<std::mutex> lock(device.mutex);
        return device.writes;
    }
    int closes() {
        std::lock_guard<std::mutex> lock(device.mutex);
        return device.closes;
    }
    // Closes the device and tells how long the close took.
    std::chrono::milliseconds timed_close() {
        const auto start = clock_type::now();
        EXPECT_EQ(close_device(id), 0u);
        id = 0;
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start);
    }
    bytes captured() { return read_bytes(dir / "out.raw"); }

    temp_dir dir;
    bytes track;
    mci::device_id id = 0;
};

TEST_F(EngineFaults, CloseReturnsQuicklyWhileTheDeviceIsFull) {
    set(3000);
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(device.await([] { return device.full; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(writes(), 60) << "waiting for room must not spin";
    EXPECT_LT(timed_close().count(), 100);
    EXPECT_EQ(captured(), bytes(track.begin(), track.begin() + 6000));
}

// The first wait for room in a device that has just stopped taking frames is no excuse either.
TEST_F(EngineFaults, CloseReturnsQuicklyRightAfterTheDeviceFills) {
    set(3000);
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(device.await([] { return device.full; }));
    EXPECT_LT(timed_close().count(), 100);
}

TEST_F(EngineFaults, PauseHoldsOutputAndResumeGoesOnWithoutLoss) {
    set(3000);
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(device.await([] { return device.full; }));
    ASSERT_EQ(plat::mci_send(id, mci::pause, 0, 0), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    set(-1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const int paused_writes = writes();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(writes(), paused_writes) << "a paused track went on writing";
    EXPECT_EQ(closes(), 0);
    ASSERT_EQ(plat::mci_send(id, mci::resume, 0, 0), 0u);
    ASSERT_TRUE(thread_ended());
    EXPECT_TRUE(played(captured(), track));
}

TEST_F(EngineFaults, UnderrunIsRecoveredWithoutLosingSamples) {
    set(-1, 3, -EPIPE);
    ASSERT_EQ(play(id, mci::wait), 0u);
    EXPECT_TRUE(played(captured(), track));
}

TEST_F(EngineFaults, SuspendIsResumedEvenWhenResumeMustBeRetried) {
    device.resume_busy = 3;
    set(-1, 3, -ESTRPIPE);
    ASSERT_EQ(play(id, mci::wait), 0u);
    EXPECT_EQ(device.resumes, 4);
    EXPECT_TRUE(played(captured(), track));
}

TEST_F(EngineFaults, CloseIsHonouredWhileResumeKeepsFailing) {
    device.resume_busy = 1000000;
    set(-1, 3, -ESTRPIPE);
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(device.await([] { return device.resumes >= 2; }));
    EXPECT_LT(timed_close().count(), 100);
}

// CPU time the whole process spends over a stretch of wall time, as a share of one core.
template <typename F> double cpu_share_while(F wait) {
    auto cpu_now = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return t.tv_sec + t.tv_nsec / 1e9;
    };
    const double cpu = cpu_now();
    const auto start = clock_type::now();
    wait();
    const double wall = std::chrono::duration<double>(clock_type::now() - start).count();
    return (cpu_now() - cpu) / wall;
}

class EngineDeviceLoss : public EngineFaults, public ::testing::WithParamInterface<int> {};

TEST_P(EngineDeviceLoss, EndsTheTrackQuietlyWithoutSpinning) {
    set(-1, 3, GetParam(), true);
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(thread_ended()) << "output did not give up";
    const double share =
        cpu_share_while([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    EXPECT_LT(share, 0.2) << "the track is still open and must cost next to nothing";
    EXPECT_LT(writes(), 10);
    const bytes out = captured();
    EXPECT_LT(out.size(), track.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), track.begin()));
    EXPECT_EQ(length_ms(id), 10000u);
    EXPECT_LT(timed_close().count(), 100);
}

INSTANTIATE_TEST_SUITE_P(Errors, EngineDeviceLoss, ::testing::Values(-ENODEV, -EIO, -EPIPE));

// The device goes away while the thread waits for room in a full buffer.
TEST_F(EngineFaults, DeviceLostWhileWaitingForRoomEndsTheTrack) {
    configure([](fake_device &d) { d.wait_fault = -ENODEV; });
    set(3000);
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(thread_ended()) << "output did not give up";
    EXPECT_LT(writes(), 10);
    EXPECT_EQ(captured(), bytes(track.begin(), track.begin() + 6000));
}

class EngineOpenFaults : public EngineFaults, public ::testing::WithParamInterface<int> {};

TEST_P(EngineOpenFaults, TrackIsSilentAndStillTimedWithoutAWord) {
    configure([](fake_device &d) { d.open_fault = GetParam(); });
    output_catcher said(dir / "said.txt");
    const auto start = clock_type::now();
    const mci::error result = play(id, mci::wait);
    const auto took = clock_type::now() - start;
    const std::uint64_t length = length_ms(id);
    EXPECT_EQ(said.text(), "");
    EXPECT_EQ(result, 0u);
    EXPECT_LT(took, std::chrono::seconds(1)) << "a device that cannot be had must not hold play";
    EXPECT_EQ(length, 10000u) << "the loop times the silent track by this";
    EXPECT_EQ(device.opens, 1);
    EXPECT_TRUE(captured().empty());
    EXPECT_LT(timed_close().count(), 100);
}

INSTANTIATE_TEST_SUITE_P(Errors, EngineOpenFaults, ::testing::Values(-EBUSY, -ENOENT),
                         [](const auto &info) {
                             return info.param == -EBUSY ? "EBUSY" : "ENOENT";
                         });

// A device that takes each write only in part, alone and with underruns between the parts.
TEST_F(EngineFaults, ShortWritesLoseNoFrame) {
    configure([](fake_device &d) { d.piece = 97; });
    ASSERT_EQ(play(id, mci::wait), 0u);
    EXPECT_GT(writes(), 80000 / 97);
    EXPECT_TRUE(played(captured(), track));
}

TEST_F(EngineFaults, UnderrunsBetweenShortWritesLoseAndRepeatNothing) {
    configure([](fake_device &d) {
        d.piece = 333;
        d.every = 7;
    });
    set(-1, 2, -EPIPE);
    ASSERT_EQ(play(id, mci::wait), 0u);
    EXPECT_GT(device.prepares, 20);
    EXPECT_TRUE(played(captured(), track));
}

} // namespace
