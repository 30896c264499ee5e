// The playback device: the MCI commands sent for each file, refused extensions, length and close.
#include <cstring>

#include "device/device.h"
#include "harness.h"

using DeviceTest = PlayerTest;
using lines = std::vector<std::string>;

namespace {
void *const window = reinterpret_cast<void *>(0x77);
}

TEST_F(DeviceTest, ExactCommandsForATrack) {
    fake::set_length_ms("song.wav", 61999);
    EXPECT_EQ(play_file("song.wav", window, 0), 0);
    EXPECT_EQ(track_length(), 61);
    close_device();
    EXPECT_EQ(fake::mci_log(),
              (lines{"open 0 0x2200 waveaudio song.wav", "play 1 0x5 from 0 to 0x77",
                     "status 1 0x100 item 1", "close 1 0"}));
    EXPECT_EQ(current_device_id(), 0u);
}

TEST_F(DeviceTest, DeviceTypeAndElementFollowTheLastExtension) {
    for (const char *expected : {"waveaudio SONG.WAV", "waveaudio x.mp3.wav", "waveaudio .wav",
                                 "MPEGVideo track.MP3", "MPEGVideo t.mp3", "MPEGVideo a.b.mp3"}) {
        fake::reset();
        EXPECT_EQ(play_file(std::strchr(expected, ' ') + 1, window, 0), 0);
        EXPECT_EQ(fake::mci_log().at(0), std::string("open 0 0x2200 ") + expected);
    }
}

TEST_F(DeviceTest, RefusedExtensionsSendNothingAndKeepTheDevice) {
    play_file("open.wav", window, 0);
    mci::device_id open = current_device_id();
    std::size_t sent = fake::mci_calls().size();
    for (const char *name : {"Song.Wav", "Track.Mp3", "x.wave", "noext", "x.",
                             "a.wavwavwavwavwavwavwavwavwavwavwavwav"}) {
        EXPECT_EQ(play_file(name, window, 0), 1) << name;
    }
    EXPECT_EQ(fake::mci_calls().size(), sent);
    EXPECT_EQ(current_device_id(), open);
}

TEST_F(DeviceTest, LengthIsRoundedDownToWholeSeconds) {
    for (auto [ms, s] : {std::pair<std::uint32_t, std::int32_t>{999, 0},
                         {60000, 60},
                         {2999, 2},
                         {0xFFFFFFFFu, 4294967}}) {
        fake::reset();
        fake::set_length_ms("a.wav", ms);
        play_file("a.wav", window, 0);
        EXPECT_EQ(track_length(), s) << ms;
    }
}

TEST_F(DeviceTest, FailedOpenPlaysNothingAndLeavesLengthZero) {
    fake::fail_open("gone.wav");
    EXPECT_EQ(play_file("gone.wav", window, 0), 0);
    EXPECT_EQ(current_device_id(), 0u);
    EXPECT_EQ(track_length(), 0);
    EXPECT_EQ(fake::mci_log(),
              (lines{"open 0 0x2200 waveaudio gone.wav", "status 0 0x100 item 1"}));
}

TEST_F(DeviceTest, ClosingTwiceIsHarmless) {
    play_file("a.wav", window, 0);
    close_device();
    close_device();
    EXPECT_EQ(current_device_id(), 0u);
    EXPECT_EQ(fake::open_devices(), 0);
    EXPECT_EQ(fake::mci_log().back(), "close 0 0");
}

TEST_F(DeviceTest, ConsoleWindowIsFoundByATemporaryTitleThatIsThenRestored) {
    fake::set_title("My console");
    fake::set_ids(0xFFFFFFF0u, 4242);
    EXPECT_EQ(get_console_window(), fake::console_window_handle());
    EXPECT_EQ(fake::titles_set(), (lines{"-16/4242", "My console"}));
    EXPECT_EQ(fake::title(), "My console");

    fake::reset();
    fake::set_title("hidden", false);
    EXPECT_EQ(get_console_window(), nullptr);
    EXPECT_TRUE(fake::titles_set().empty());
}

TEST_F(DeviceTest, PlayerAnnouncesAndTimesATrackThatFailsToOpen) {
    fake::set_folder({"bad.wav", "good.wav"});
    fake::fail_open("bad.wav");
    fake::set_play_budget(1);
    fake::run_main();
    EXPECT_EQ(fake::opened(), lines{"good.wav"});
    EXPECT_NE(fake::output().find("KestrovaSonvane~ bad~$ "), std::string::npos);
    // bad (1 s, as a length of 0), good (4 s), bad again (1 s), then the budget stops good.
    EXPECT_EQ(fake::clock_ms(), t0 + 1000 + 4000 + 1000);
}
