// The playback device: the MCI commands sent for each file, refused extensions, length and close.
#include "device/device.h"
#include "harness.h"

using DeviceTest = PlayerTest;

namespace {
void *const window = reinterpret_cast<void *>(0x77);
}

TEST_F(DeviceTest, ExactCommandsForATrack) {
    fake::set_length_ms("song.wav", 61999);
    EXPECT_EQ(play_file("song.wav", window, 0), 0);
    EXPECT_EQ(track_length(), 61);
    close_device();

    const auto &calls = fake::mci_calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].device, 0u);
    EXPECT_EQ(calls[0].message, 0x0803u);
    EXPECT_EQ(calls[0].flags, 0x2200u);
    EXPECT_EQ(calls[0].device_type, "waveaudio");
    EXPECT_EQ(calls[0].element, "song.wav");
    mci::device_id id = calls[1].device;
    EXPECT_NE(id, 0u);
    EXPECT_EQ(calls[1].message, 0x0806u);
    EXPECT_EQ(calls[1].flags, 0x5u);
    EXPECT_EQ(calls[1].from, 0u);
    EXPECT_EQ(calls[1].callback, reinterpret_cast<std::uintptr_t>(window));
    EXPECT_EQ(calls[2].device, id);
    EXPECT_EQ(calls[2].message, 0x0814u);
    EXPECT_EQ(calls[2].flags, 0x100u);
    EXPECT_EQ(calls[2].item, 0x1u);
    EXPECT_EQ(calls[3].device, id);
    EXPECT_EQ(calls[3].message, 0x0804u);
    EXPECT_EQ(calls[3].flags, 0u);
    EXPECT_FALSE(calls[3].has_params);
    EXPECT_EQ(current_device_id(), 0u);
}

TEST_F(DeviceTest, DeviceTypeAndElementFollowTheLastExtension) {
    struct row {
        const char *name;
        const char *type;
    };
    for (row r :
         {row{"SONG.WAV", "waveaudio"}, row{"track.MP3", "MPEGVideo"}, row{"t.mp3", "MPEGVideo"},
          row{"a.b.mp3", "MPEGVideo"}, row{"x.mp3.wav", "waveaudio"}, row{".wav", "waveaudio"}}) {
        fake::reset();
        EXPECT_EQ(play_file(r.name, window, 0), 0);
        ASSERT_FALSE(fake::mci_calls().empty());
        EXPECT_EQ(fake::mci_calls()[0].device_type, r.type) << r.name;
        EXPECT_EQ(fake::mci_calls()[0].element, r.name);
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

TEST_F(DeviceTest, FailedOpenLeavesNoDeviceAndLengthZero) {
    fake::fail_open("gone.wav");
    EXPECT_EQ(play_file("gone.wav", window, 0), 0);
    EXPECT_EQ(current_device_id(), 0u);
    EXPECT_EQ(track_length(), 0);
    // Nothing is played on a device that was never handed back.
    for (const auto &c : fake::mci_calls())
        EXPECT_NE(c.message, mci::play);
}

TEST_F(DeviceTest, ClosingTwiceIsHarmless) {
    play_file("a.wav", window, 0);
    close_device();
    close_device();
    EXPECT_EQ(current_device_id(), 0u);
    EXPECT_EQ(fake::open_devices(), 0);
    EXPECT_EQ(fake::mci_calls().back().device, 0u);
}

TEST_F(DeviceTest, ConsoleWindowIsFoundByATemporaryTitleThatIsThenRestored) {
    fake::set_title("My console");
    fake::set_ids(0xFFFFFFF0u, 4242);
    EXPECT_EQ(get_console_window(), fake::console_window_handle());
    EXPECT_EQ(fake::titles_set(), (std::vector<std::string>{"-16/4242", "My console"}));
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
    EXPECT_EQ(fake::opened(), std::vector<std::string>{"good.wav"});
    EXPECT_NE(fake::output().find("KestrovaSonvane~ bad~$ "), std::string::npos);
    // bad (1 s, as a length of 0), good (4 s), bad again (1 s), then the budget stops good.
    EXPECT_EQ(fake::clock_ms(), t0 + 1000 + 4000 + 1000);
}
