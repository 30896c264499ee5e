// Tests of the Linux MCI engine through plat::mci_send, with ALSA's file and null PCMs as the card.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <future>

#include "engine_fixture.h"

namespace {

using namespace engine_test;

struct sample_case {
    const char *name;
    int format;
    int channels;
    int rate;
};

class EngineSamples : public ::testing::TestWithParam<sample_case> {};

TEST_P(EngineSamples, ReachAlsaUnchanged) {
    const sample_case c = GetParam();
    temp_dir dir;
    const bytes track = write_sound(dir / "t.wav", c.format, c.channels, c.rate, 5001);
    ASSERT_FALSE(track.empty());
    capture_to(dir / "out.raw");
    mci::device_id id = 0;
    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    ASSERT_EQ(play(id, mci::wait), 0u);
    ASSERT_EQ(close_device(id), 0u);
    EXPECT_TRUE(played(read_bytes(dir / "out.raw"), track));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EngineSamples,
    ::testing::Values(sample_case{"pcm16_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100},
                      sample_case{"pcm8_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000},
                      sample_case{"float_stereo", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000},
                      sample_case{"pcm24_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 96000},
                      sample_case{"pcm32_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 22050},
                      sample_case{"double_mono", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 44100},
                      sample_case{"wavex_6ch", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6, 48000}),
    [](const auto &info) { return std::string(info.param.name); });

namespace {

// What libsndfile decodes from a file, as the bytes the engine should hand to ALSA.
template <typename Sample>
bytes decoded_by_libsndfile(const std::string &file, SF_INFO &info,
                            sf_count_t (*read)(SNDFILE *, Sample *, sf_count_t)) {
    SNDFILE *f = sf_open(file.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr);
    if (!f)
        return {};
    std::vector<Sample> decoded(static_cast<std::size_t>(info.frames * info.channels));
    decoded.resize(static_cast<std::size_t>(read(f, decoded.data(), info.frames) * info.channels));
    sf_close(f);
    bytes track;
    append(track, decoded);
    return track;
}

// Plays a file to the end through the engine into a file PCM, checking its length on the way;
// returns what reached the PCM.
bytes played_through_engine(const temp_dir &dir, const char *type, const std::string &file,
                            std::uint64_t expected_ms) {
    capture_to(dir / "out.raw");
    mci::device_id id = 0;
    EXPECT_EQ(open_file(type, file, id), 0u);
    EXPECT_EQ(length_ms(id), expected_ms);
    EXPECT_EQ(play(id, mci::wait), 0u);
    EXPECT_EQ(close_device(id), 0u);
    return read_bytes(dir / "out.raw");
}

} // namespace

TEST(EngineMp3, PlaysWhatLibsndfileDecodes) {
    temp_dir dir;
    write_sound(dir / "t.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 44100, 22050);
    SF_INFO info{};
    const bytes track = decoded_by_libsndfile<float>(dir / "t.mp3", info, sf_readf_float);
    const bytes out = played_through_engine(dir, "MPEGVideo", dir / "t.mp3",
                                            static_cast<std::uint64_t>(info.frames * 1000 / 44100));
    EXPECT_GT(track.size() / sizeof(float), 40000u);
    EXPECT_TRUE(played(out, track));
}

TEST(EngineOpen, DeviceTypesTakeOnlyWhatTheyRead) {
    temp_dir dir;
    const bytes wav = write_sound(dir / "good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 8000, 50);
    write_sound(dir / "good.wavex", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2, 8000, 50);
    write_sound(dir / "good.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 8000, 800);
    write_bytes(dir / "text.wav", bytes{'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'});
    write_bytes(dir / "empty.wav", {});
    bytes whole = read_bytes(dir / "good.wav");
    write_bytes(dir / "cut.wav", bytes(whole.begin(), whole.begin() + 30));
    bytes huge(whole.begin(), whole.begin() + 44 + 40);
    huge[4] = huge[40] = 0xF0; // RIFF and data lengths near 4 GiB
    huge[5] = huge[6] = huge[7] = huge[41] = huge[42] = huge[43] = 0xFF;
    write_bytes(dir / "huge.wav", huge);

    struct {
        const char *type;
        const char *file;
        mci::error expected;
    } const cases[] = {
        {"waveaudio", "good.wav", 0},
        {"WaveAudio", "good.wavex", 0},
        {"waveaudio", "good.mp3", mci::err_invalid_file},
        {"waveaudio", "text.wav", mci::err_invalid_file},
        {"waveaudio", "empty.wav", mci::err_invalid_file},
        {"waveaudio", "cut.wav", mci::err_invalid_file},
        // A data chunk that claims more than the file holds plays what is there.
        {"waveaudio", "huge.wav", 0},
        {"MPEGVideo", "good.mp3", 0},
        {"MPEGVideo", "good.wav", 0},
        {"MPEGVideo", "text.wav", mci::err_invalid_file},
        {"cdaudio", "good.wav", mci::err_invalid_device_name},
    };
    output_catcher catcher(dir / "said.txt");
    for (const auto &c : cases) {
        mci::device_id id = 0;
        const mci::error result = open_file(c.type, dir / c.file, id);
        EXPECT_EQ(result, c.expected) << c.type << " " << c.file;
        EXPECT_EQ(id != 0, result == 0) << c.type << " " << c.file;
        close_device(id);
    }
    // Its length is that of the bytes really there, not of the gigabytes claimed.
    mci::device_id id = 0;
    ASSERT_EQ(open_file("waveaudio", dir / "huge.wav", id), 0u);
    EXPECT_LT(length_ms(id), 1000u);
    close_device(id);
    EXPECT_EQ(catcher.text(), "");
}

// Found by fuzzing: libsndfile's MPEG decoder prints while it probes a cut-off MP3, and the
// player's folder scan hands over any *.wav, so an MP3 cut short and named .wav wrote on the
// screen.
TEST(EngineOpen, WaveTypeRefusesAnMp3NamedWavWithoutAWord) {
    temp_dir dir;
    write_sound(dir / "t.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 8000, 1152);
    const bytes mp3 = read_bytes(dir / "t.mp3");
    ASSERT_GT(mp3.size(), 1000u);
    write_bytes(dir / "cut.wav", bytes(mp3.begin(), mp3.begin() + 700));
    write_bytes(dir / "whole.wav", mp3);
    output_catcher catcher(dir / "said.txt");
    for (const char *name : {"cut.wav", "whole.wav"}) {
        mci::device_id id = 0;
        EXPECT_EQ(open_file("waveaudio", dir / name, id), mci::err_invalid_file) << name;
        close_device(id);
    }
    EXPECT_EQ(catcher.text(), "");
}

// G.721 ADPCM decodes only straight through and cannot seek, not even to where it stands.
// Found by fuzzing: such a file opened and reported its length, then never played.
TEST(EngineOpen, UnseekableCodecStillPlaysFromTheStart) {
    temp_dir dir;
    write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_G721_32, 1, 8000, 4000);
    SF_INFO info{};
    const bytes track = decoded_by_libsndfile<short>(dir / "t.wav", info, sf_readf_short);
    ASSERT_FALSE(info.seekable);
    const bytes out = played_through_engine(dir, "waveaudio", dir / "t.wav",
                                            static_cast<std::uint64_t>(info.frames * 1000 / 8000));
    EXPECT_GT(track.size() / sizeof(short), 3000u);
    EXPECT_TRUE(played(out, track));
}

TEST(EngineOpen, RefusesWhatIsNotARegularFileWithoutBlocking) {
    temp_dir dir;
    ASSERT_EQ(mkdir((dir / "folder.wav").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
    mci::device_id id = 0;
    EXPECT_EQ(open_file("waveaudio", dir / "folder.wav", id), mci::err_invalid_file);
    EXPECT_EQ(open_file("MPEGVideo", "/dev/null", id), mci::err_invalid_file);
    EXPECT_EQ(open_file("waveaudio", dir / "missing.wav", id), mci::err_file_not_found);

    auto fifo = std::async(std::launch::async, [&] {
        mci::device_id fid = 0;
        return open_file("waveaudio", dir / "fifo.wav", fid);
    });
    if (fifo.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Hand the blocked open a writer so that the test can end.
        close(open((dir / "fifo.wav").c_str(), O_WRONLY | O_NONBLOCK));
        FAIL() << "opening a FIFO blocked";
    }
    EXPECT_EQ(fifo.get(), mci::err_invalid_file);
}

TEST(EngineStatus, WaveLengthIsExactInMilliseconds) {
    temp_dir dir;
    struct {
        int format, channels, rate;
        sf_count_t frames;
        std::uint64_t ms;
    } const cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 123457, 2799},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000, 7999, 999},
        {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 1, 1000, 60000, 60000},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 22050, 0, 0},
    };
    for (const auto &c : cases) {
        write_sound(dir / "t.wav", c.format, c.channels, c.rate, c.frames);
        mci::device_id id = 0;
        ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
        EXPECT_EQ(length_ms(id), c.ms) << c.frames << " frames at " << c.rate;
        close_device(id);
    }
}

TEST(EngineCommands, CloseOfNoDeviceIsHarmless) {
    temp_dir dir;
    write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 8000);
    setenv("AUDIODEV", "null", 1);
    mci::device_id id = 0;
    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    ASSERT_EQ(play(id), 0u);
    EXPECT_NE(close_device(0), 0u);
    EXPECT_EQ(plat::mci_send(id, mci::pause, 0, 0), 0u);
    EXPECT_EQ(plat::mci_send(id, mci::resume, 0, 0), 0u);
    EXPECT_EQ(length_ms(id), 1000u);
    EXPECT_EQ(close_device(id), 0u);
    EXPECT_EQ(close_device(id), mci::err_invalid_device_id);
    EXPECT_EQ(plat::mci_send(id, mci::pause, 0, 0), mci::err_invalid_device_id);
}

TEST(EngineCommands, PcmThatCannotOpenLeavesTrackSilentButTimed) {
    temp_dir dir;
    write_sound(dir / "t.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100 * 3 / 2);
    setenv("AUDIODEV", "kestrova_no_such_pcm", 1);
    output_catcher catcher(dir / "said.txt");
    mci::device_id id = 0;
    EXPECT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    EXPECT_EQ(play(id, mci::wait), 0u);
    EXPECT_EQ(length_ms(id), 1500u);
    EXPECT_EQ(close_device(id), 0u);
    EXPECT_EQ(catcher.text(), "");
}

} // namespace
