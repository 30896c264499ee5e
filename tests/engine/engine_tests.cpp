// Tests of the Linux MCI engine through plat::mci_send, with ALSA's file PCM as the sound card.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "mci_calls.h"
#include "support.h"

namespace {

using namespace support;

// What libsndfile decodes from a lossy file, as the engine hands it on; ms gets its length.
template <typename T>
bytes decoded(const std::string &path, sf_count_t (*read)(SNDFILE *, T *, sf_count_t),
              std::uint64_t &ms) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<T> samples(static_cast<std::size_t>(info.frames * info.channels));
    samples.resize(static_cast<std::size_t>(read(f, samples.data(), info.frames) * info.channels));
    sf_close(f);
    ms = static_cast<std::uint64_t>(info.frames * 1000 / info.samplerate);
    const auto *raw = reinterpret_cast<const unsigned char *>(samples.data());
    return bytes(raw, raw + samples.size() * sizeof(T));
}

// Runs f and returns what reached standard output and standard error meanwhile, from any library.
template <typename F> std::string said_while(F f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
}

using S = const std::string &;
constexpr mci::error bad = mci::err_invalid_file;
constexpr int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
              wavex16 = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;

struct playable {
    const char *name, *type;
    int format, channels, rate; // 0: a header that claims nearly 4 GiB
    long frames;
    std::uint64_t ms;
};

class EnginePlays : public ::testing::TestWithParam<playable> {};

// Every frame reaches the device exactly once, the last ones included, and nothing follows.
TEST_P(EnginePlays, EveryFrameExactly) {
    const playable c = GetParam();
    temp_folder dir;
    std::uint64_t ms = c.ms;
    bytes track = write_sound(dir / "t", c.format, c.channels, c.rate, c.frames);
    if ((c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG)
        track = decoded<float>(dir / "t", sf_readf_float, ms);
    if ((c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_G721_32)
        track = decoded<short>(dir / "t", sf_readf_short, ms);
    if (c.format == 0) {
        const std::string head("RIFF\xF0\xFF\xFF\xFFWAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1F\0\0"
                               "\x80\x3E\0\0\x02\0\x10\0data\xF0\xFF\xFF\xFF",
                               44);
        write_bytes(dir / "t", head + "twenty bytes of data");
        track = read_bytes(dir / "t");
        track.erase(track.begin(), track.begin() + 44);
    }
    capture_to(dir / "out.raw");
    mci::device_id id = 0;
    ASSERT_EQ(open_file(c.type, dir / "t", id), 0u);
    EXPECT_EQ(length_ms(id), ms);
    ASSERT_EQ(play(id, mci::wait), 0u);
    ASSERT_EQ(close_device(id), 0u);
    EXPECT_TRUE(read_bytes(dir / "out.raw") == track);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EnginePlays,
    ::testing::Values(
        playable{"pcm16", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 123457, 2799},
        playable{"pcm8", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000, 7999, 999},
        playable{"float", "WaveAudio", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 5001, 104},
        playable{"pcm24", "waveaudio", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 1, 1000, 60000, 60000},
        playable{"pcm32", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 22050, 5001, 226},
        playable{"double", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 44100, 5001, 113},
        playable{"rf64", "waveaudio", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 2, 8000, 4000, 500},
        playable{"rifx", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 1, 8000,
                 800, 100},
        playable{"empty", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 22050, 0, 0},
        playable{"wav_as_mpeg", "MPEGVideo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 800, 100},
        playable{"mp3", "MPEGVideo", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 44100, 22050, 0},
        // Found by fuzzing: G.721 cannot seek, not even to where it stands; such a
        // file opened and reported its length, then never played.
        playable{"g721", "waveaudio", SF_FORMAT_WAV | SF_FORMAT_G721_32, 1, 8000, 4000, 0},
        // It plays, and measures, what is really there.
        playable{"huge_claim", "waveaudio", 0, 0, 0, 0, 1}),
    [](const auto &info) { return std::string(info.param.name); });

// What must reach ALSA for a stream whose channels are put in the order ALSA expects: for each
// of its channels, the stream's channel that plays there, or -1 for silence.
bytes routed(const bytes &in, unsigned channels, unsigned width, std::vector<int> from) {
    bytes out;
    for (std::size_t frame = 0; frame < in.size(); frame += channels * width) {
        for (const int c : from) {
            for (unsigned byte = 0; byte < width; ++byte)
                out.push_back(c < 0 ? 0 : in[frame + static_cast<unsigned>(c) * width + byte]);
        }
    }
    return out;
}

// A file that the ffmpeg program encodes from a wave file of frames of noise, with one of its
// lossless codecs, for the FFmpeg module: what must reach ALSA is the wave file's frames.
bytes encoded(S path, int sf_format, int channels, int rate, long frames, const char *codec) {
    const bytes made =
        write_sound(path + ".wav", SF_FORMAT_WAV | sf_format, channels, rate, frames);
    const std::string command = "ffmpeg -loglevel error -i '" + path + ".wav' -c:a " + codec +
                                " -f " + (std::string(codec) == "alac" ? "ipod" : "wv") + " '" +
                                path + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return made;
}

struct decodes {
    const char *name;
    // Writes the file and returns what must reach ALSA for it.
    bytes (*make)(S path);
    std::uint64_t ms;
    // A second play starts here, as one after a lost device does: the frames from there on.
    std::uint32_t from_ms = 0;
    unsigned frame_bytes = 0, rate = 0;
};

class EngineDecodes : public ::testing::TestWithParam<decodes> {};

// Every sample as the format's reference decoder gives it, every bit kept, each channel where its
// speaker is in ALSA's order, and the whole length told before the play.
TEST_P(EngineDecodes, AsTheFormatMeansIt) {
    const decodes c = GetParam();
    temp_folder dir;
    const bytes expected = c.make(dir / "t");
    capture_to(dir / "out.raw");
    mci::device_id id = 0;
    ASSERT_EQ(open_file("MPEGVideo", dir / "t", id), 0u);
    EXPECT_EQ(length_ms(id), c.ms);
    ASSERT_EQ(play(id, mci::wait), 0u);
    EXPECT_TRUE(read_bytes(dir / "out.raw") == expected);
    if (c.from_ms) {
        ASSERT_EQ(play(id, mci::wait, c.from_ms), 0u);
        const std::size_t skipped = std::size_t{c.from_ms} * c.rate / 1000 * c.frame_bytes;
        EXPECT_TRUE(read_bytes(dir / "out.raw") ==
                    bytes(expected.begin() + skipped, expected.end()));
    }
    ASSERT_EQ(close_device(id), 0u);
}

using fs = flac_stream;
INSTANTIATE_TEST_SUITE_P(
    Kinds, EngineDecodes,
    ::testing::Values(
        decodes{"flac4", [](S p) { return write_flac(p, 4, 1, 8000, 8000); }, 1000},
        decodes{"flac32", [](S p) { return write_flac(p, 32, 1, 192000, 19200); }, 100},
        decodes{"flac_without_length",
                [](S p) { return write_flac(p, 16, 2, 22050, 44107, fs::no_length); }, 2000, 1500,
                4, 22050},
        // With no STREAMINFO to seek by, a play from a point decodes its way there.
        decodes{"flac_from_first_frame",
                [](S p) { return write_flac(p, 24, 1, 11025, 11025, fs::from_frame); }, 1000, 300,
                4, 11025},
        decodes{"ogg_flac", [](S p) { return write_flac(p, 8, 2, 32000, 3200, fs::ogg); }, 100},
        decodes{"flac_three",
                [](S p) {
                    return routed(write_flac(p, 16, 3, 8000, 800), 3, 2, {0, 1, -1, -1, 2, -1});
                },
                100},
        decodes{"flac_five_one",
                [](S p) {
                    return routed(write_flac(p, 24, 6, 8000, 800), 6, 4, {0, 1, 4, 5, 2, 3});
                },
                100},
        decodes{"flac_six_one",
                [](S p) {
                    return routed(write_flac(p, 16, 7, 8000, 800), 7, 2, {0, 1, 4, 4, 2, 3, 5, 6});
                },
                100},
        decodes{"wave_five_one_side",
                [](S p) {
                    return routed(
                        write_sound(p, wavex16, 6, 8000, 800,
                                    {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT,
                                     SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
                                     SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT}),
                        6, 2, {0, 1, 4, 5, 2, 3});
                },
                100},
        decodes{"wave_quad_and_two_front",
                [](S p) {
                    return write_sound(p, wavex16, 6, 8000, 800,
                                       {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT,
                                        SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT,
                                        SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
                                        SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER});
                },
                100},
        decodes{"aiff",
                [](S p) { return write_sound(p, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, 8000, 800); },
                100, 50, 8, 8000},
        // Through the FFmpeg module, which this test finds beside it.
        decodes{"alac24", [](S p) { return encoded(p, SF_FORMAT_PCM_24, 2, 44100, 44100, "alac"); },
                1000, 600, 8, 44100},
        decodes{"wavpack16",
                [](S p) { return encoded(p, SF_FORMAT_PCM_16, 1, 8000, 12345, "wavpack"); }, 1543,
                1000, 2, 8000}),
    [](const auto &info) { return std::string(info.param.name); });

struct spliced {
    const char *name;
    int channels[2], rates[2];
    bool damaged; // bytes in the middle of the first second overwritten
};

class EngineMpeg : public ::testing::TestWithParam<spliced> {};

// Two seconds of MPEG audio, spliced from two files of a second each: whatever changes at the
// splice, or is damaged before it, the whole plays at the first rate, in stereo, and the length
// told is what plays.
TEST_P(EngineMpeg, PlaysOnThroughAChange) {
    const spliced c = GetParam();
    temp_folder dir;
    std::string stream;
    for (int part = 0; part < 2; ++part) {
        const int layer3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        write_sound(dir / "part", layer3, c.channels[part], c.rates[part], c.rates[part]);
        const bytes made = read_bytes(dir / "part");
        stream.append(made.begin(), made.end());
    }
    if (c.damaged)
        stream.replace(stream.size() / 4, 300, 300, '\x55');
    write_bytes(dir / "t.mp3", stream);
    capture_to(dir / "out.raw");
    mci::device_id id = 0;
    ASSERT_EQ(open_file("MPEGVideo", dir / "t.mp3", id), 0u);
    const double told = static_cast<double>(length_ms(id)) / 1000;
    ASSERT_EQ(play(id, mci::wait), 0u);
    close_device(id);
    const double played = static_cast<double>(read_bytes(dir / "out.raw").size()) /
                          (2 * sizeof(float) * static_cast<unsigned>(c.rates[0]));
    // Each part brings its encoder's delay and padding, up to a tenth of a second.
    EXPECT_NEAR(played, 2.0, 0.15);
    EXPECT_NEAR(told, played, 0.03);
}

INSTANTIATE_TEST_SUITE_P(
    Splices, EngineMpeg,
    ::testing::Values(spliced{"mono_then_stereo", {1, 2}, {44100, 44100}, false},
                      spliced{"stereo_then_mono", {2, 1}, {22050, 22050}, false},
                      spliced{"44100_then_48000", {2, 2}, {44100, 48000}, false},
                      spliced{"damaged", {2, 2}, {32000, 32000}, true}),
    [](const auto &info) { return std::string(info.param.name); });

struct refused {
    const char *name, *type;
    void (*make)(S path);
    mci::error error;
};

class EngineRefuses : public ::testing::TestWithParam<refused> {};

// A refused file leaves no device behind and prints nothing, and opening it never blocks.
TEST_P(EngineRefuses, WithoutAWord) {
    temp_folder dir;
    GetParam().make(dir / "t.wav");
    mci::device_id id = 77;
    EXPECT_EQ(said_while([&] {
                  EXPECT_EQ(open_file(GetParam().type, dir / "t.wav", id), GetParam().error);
              }),
              "");
    EXPECT_EQ(id, 0u);
}

std::string mp3_bytes(S p) {
    write_sound(p, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 8000, 1152);
    const bytes mp3 = read_bytes(p);
    return std::string(mp3.begin(), mp3.end());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EngineRefuses,
    ::testing::Values(
        // Found by fuzzing: libsndfile's MPEG decoder prints as it probes a cut-off MP3, and the
        // folder scan hands over any *.wav.
        refused{"mp3_as_wave", "waveaudio", [](S p) { mp3_bytes(p); }, bad},
        refused{"cut_mp3_as_wave", "waveaudio",
                [](S p) { write_bytes(p, mp3_bytes(p).substr(0, 700)); }, bad},
        refused{"text", "waveaudio", [](S p) { write_bytes(p, "just text\n"); }, bad},
        refused{"text_as_mpeg", "MPEGVideo", [](S p) { write_bytes(p, "just text\n"); }, bad},
        refused{"empty", "waveaudio", [](S p) { write_bytes(p, ""); }, bad},
        refused{"cut_wave", "waveaudio",
                [](S p) { write_bytes(p, std::string("RIFF\x24\0\0\0WAVEfmt ", 16)); }, bad},
        refused{"folder", "waveaudio", [](S p) { mkdir(p.c_str(), 0700); }, bad},
        refused{"fifo", "waveaudio", [](S p) { mkfifo(p.c_str(), 0600); }, bad},
        refused{"device_node", "MPEGVideo",
                [](S p) { EXPECT_EQ(symlink("/dev/null", p.c_str()), 0); }, bad},
        refused{"missing", "waveaudio", [](S) {}, mci::err_file_not_found},
        refused{"cdaudio", "cdaudio", [](S p) { write_sound(p, wav16, 1, 8000, 80); },
                mci::err_invalid_device_name}),
    [](const auto &info) { return std::string(info.param.name); });

// A track whose second half is damaged plays its first, and is named each time it plays, as one
// that cannot be opened is: silence for the rest would pass for play.
TEST(EngineCommands, NamesATrackThatStopsShort) {
    temp_folder dir;
    write_flac(dir / "t.flac", 16, 1, 8000, 24000);
    bytes flac = read_bytes(dir / "t.flac");
    std::fill(flac.begin() + static_cast<long>(flac.size() / 2), flac.end(), 0);
    write_bytes(dir / "t.flac", std::string(flac.begin(), flac.end()));
    capture_to(dir / "out.raw");
    mci::device_id id = 0;
    ASSERT_EQ(open_file("MPEGVideo", dir / "t.flac", id), 0u);
    EXPECT_EQ(length_ms(id), 3000u);
    const std::string said =
        "kestrova: cannot play \"" + dir / "t.flac" + "\": it stops at 0:01 of 0:03\n";
    EXPECT_EQ(said_while([id] { EXPECT_EQ(play(id, mci::wait), 0u); }), said);
    EXPECT_EQ(said_while([id] { EXPECT_EQ(play(id, mci::wait), 0u); }), said);
    EXPECT_EQ(close_device(id), 0u);
    EXPECT_GT(read_bytes(dir / "out.raw").size(), 2u * 8000);
}

// A sound card that cannot be had leaves the track silent but still timed, and is named once.
TEST(EngineCommands, WithoutASoundCard) {
    temp_folder dir;
    write_sound(dir / "t.wav", wav16, 1, 8000, 12000);
    setenv("AUDIODEV", "kestrova_no_such_pcm", 1);
    mci::device_id id = 0;
    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    EXPECT_EQ(plat::mci_send(id, mci::play, mci::notify, 0), mci::err_missing_parameter);
    EXPECT_EQ(said_while([id] {
                  EXPECT_EQ(play(id, mci::wait), 0u);
                  EXPECT_EQ(play(id, mci::wait), 0u);
              }),
              "kestrova: no sound: cannot open ALSA PCM \"kestrova_no_such_pcm\" (No such file or "
              "directory); set AUDIODEV, see 'aplay -L'\n");
    EXPECT_EQ(length_ms(id), 1500u);
    EXPECT_EQ(plat::mci_send(id, mci::pause, 0, 0), 0u);
    EXPECT_EQ(plat::mci_send(id, mci::resume, 0, 0), 0u);
    EXPECT_EQ(plat::mci_send(id, 0x0807, 0, 0), mci::err_unrecognized_command);
    EXPECT_NE(close_device(0), 0u);
    EXPECT_EQ(close_device(id), 0u);
    EXPECT_EQ(close_device(id), mci::err_invalid_device_id);
    EXPECT_EQ(plat::mci_send(id, mci::pause, 0, 0), mci::err_invalid_device_id);
}

} // namespace
