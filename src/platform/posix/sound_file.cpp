// Opening and decoding sound files with libsndfile, after checking that they are safe to read.
#include "platform/posix/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace plat::audio {
namespace {

constexpr int max_channels = 64;
constexpr int max_rate = 768000;

// RF64 is the wave file that outgrew 4 GiB; libsndfile names it apart.
bool is_wave(int major) {
    return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
}

// Whether the file starts as a RIFF wave file does. libsndfile guesses a format from any bytes,
// and its MPEG decoder prints to stderr as it probes: a cut-off MP3 named .wav would write on the
// player's screen. So a file that is no wave file never reaches it for "waveaudio".
bool starts_as_wave(int fd) {
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head))
        return false;
    const bool riff = std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RIFX", 4) == 0 ||
                      std::memcmp(head, "RF64", 4) == 0;
    return riff && std::memcmp(head + 8, "WAVE", 4) == 0;
}

// The sample layout that carries a stream's samples without changing any of them.
sample_format format_for(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
        return sample_format::s32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return sample_format::f32;
    case SF_FORMAT_DOUBLE:
        return sample_format::f64;
    default:
        return sample_format::s16;
    }
}

} // namespace

sound_file::~sound_file() {
    if (file_)
        sf_close(file_);
    if (fd_ >= 0)
        ::close(fd_);
}

mci::error sound_file::open(const char *path, file_kinds kinds) {
    // A FIFO or a device node is refused before it is opened at all, and the open itself
    // cannot block should the name have changed in between.
    struct stat info;
    if (::stat(path, &info) != 0)
        return refuse(mci::err_file_not_found, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(mci::err_invalid_file,
                      S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    fd_ = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0)
        return refuse(mci::err_file_not_found, std::strerror(errno));
    if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))
        return refuse(mci::err_invalid_file, "not a regular file");
    if (info.st_size == 0)
        return refuse(mci::err_invalid_file, "the file is empty");
    if (kinds == file_kinds::wave && !starts_as_wave(fd_))
        return refuse(mci::err_invalid_file, "not a wave file");

    SF_INFO header{};
    file_ = sf_open_fd(fd_, SFM_READ, &header, SF_FALSE);
    if (!file_)
        return refuse(mci::err_invalid_file, "not a sound file libsndfile can read");
    const int major = header.format & SF_FORMAT_TYPEMASK;
    const bool wanted =
        is_wave(major) || (kinds == file_kinds::wave_or_mpeg && major == SF_FORMAT_MPEG);
    if (!wanted)
        return refuse(mci::err_invalid_file, "not a kind of sound file the player plays");
    if (header.channels < 1 || header.channels > max_channels || header.samplerate < 1 ||
        header.samplerate > max_rate || header.frames < 0)
        return refuse(mci::err_invalid_file, "its channels or rate are out of range");

    const auto frames = static_cast<std::uint64_t>(header.frames);
    const auto rate = static_cast<std::uint64_t>(header.samplerate);
    const std::uint64_t ms = frames / rate * 1000 + frames % rate * 1000 / rate;
    if (frames / rate > UINT32_MAX || ms > UINT32_MAX)
        return refuse(mci::err_invalid_file, "too long to be timed");

    format_ = format_for(header.format & SF_FORMAT_SUBMASK);
    channels_ = static_cast<unsigned>(header.channels);
    rate_ = static_cast<unsigned>(header.samplerate);
    frames_ = header.frames;
    length_ms_ = static_cast<std::uint32_t>(ms);
    return 0;
}

mci::error sound_file::refuse(mci::error error, const char *reason) {
    std::snprintf(reason_, sizeof reason_, "%s", reason);
    return error;
}

bool sound_file::seek_ms(std::uint32_t ms) {
    return seek_frame(static_cast<std::int64_t>(std::uint64_t{ms} * rate_ / 1000));
}

bool sound_file::seek_frame(std::int64_t frame) {
    frame = std::clamp<std::int64_t>(frame, 0, frames_);
    // G.72x ADPCM, among others, decodes only straight through: a play from where the file
    // stands, as every first play from 0 is, must not depend on a seek.
    if (frame == position_)
        return true;
    if (sf_seek(file_, frame, SEEK_SET) >= 0) {
        position_ = frame;
        return true;
    }
    std::vector<unsigned char> passed(4096 * frame_bytes());
    while (position_ < frame) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(4096, frame - position_));
        if (read(passed.data(), want) == 0)
            return false;
    }
    return position_ == frame;
}

std::size_t sound_file::read(void *frames, std::size_t count) {
    const auto n = static_cast<sf_count_t>(count);
    sf_count_t got = 0;
    switch (format_) {
    case sample_format::s16:
        got = sf_readf_short(file_, static_cast<short *>(frames), n);
        break;
    case sample_format::s32:
        got = sf_readf_int(file_, static_cast<int *>(frames), n);
        break;
    case sample_format::f32:
        got = sf_readf_float(file_, static_cast<float *>(frames), n);
        break;
    case sample_format::f64:
        got = sf_readf_double(file_, static_cast<double *>(frames), n);
        break;
    }
    if (got <= 0)
        return 0;
    position_ += got;
    return static_cast<std::size_t>(got);
}

} // namespace plat::audio
