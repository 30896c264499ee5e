// Tests of the engine's playback thread against a device that fills up, takes writes in pieces,
// underruns, suspends, disappears, pauses, cannot pause or wakes its poller without room.
#include "fake_alsa.h"
#include "platform/posix/hooks.h"

namespace {

using namespace support;
using namespace fault;

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
    // A wait a period at most, a few for recoveries, and twice a second a device lost for good is
    // opened again for the rest of the track: a thread that spins polls thousands.
    EXPECT_LT(polls, 40);
    std::lock_guard<std::mutex> lock(fake.mutex);
    if (c.every == 1 || c.wait_fault) {
        EXPECT_LT(fake.heard.size(), track.size());
        EXPECT_TRUE(std::equal(fake.heard.begin(), fake.heard.end(), track.begin()));
        EXPECT_LE(fake.opens, 7) << "a lost device was opened again and again";
        EXPECT_LT(fake.writes, 40) << "a lost device was written to again and again";
    } else {
        EXPECT_TRUE(fake.heard == track);
    }
    EXPECT_TRUE(c.resumes < 0 || fake.resumes == c.resumes) << fake.resumes;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EngineDeviceFaults,
    ::testing::Values(fault_case{"suspend_resume_retried", 3, -ESTRPIPE, 0, 0, 3, 0, false, 4},
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
// Ctrl-Z's hold drops every device, which a pausing one too must take up again without a loss,
// and returns only once the device is silent.
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
    EXPECT_EQ(fake.pauses, can_pause && !ctrl_z ? 1 : 0);
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
