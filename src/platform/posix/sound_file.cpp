// Opening and decoding sound files, after checking that they are safe to read: MPEG audio with
// libmpg123, which finds its exact length, and every other kind with libsndfile.
#include "platform/posix/sound_file.h"

#include <fcntl.h>
#include <mpg123.h>
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

// What a file's first bytes say it is. Only these reach libsndfile: for anything else it tries
// MPEG, and its MPEG decoder prints to stderr as it probes, which would write on the player's
// screen. Whatever is no wave, FLAC or Ogg file is MPEG audio or nothing, for libmpg123 to say.
enum class container { wave, flac, ogg, other };

container sniff(int fd) {
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head))
        return container::other;
    const bool riff = std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RIFX", 4) == 0 ||
                      std::memcmp(head, "RF64", 4) == 0;
    if (riff && std::memcmp(head + 8, "WAVE", 4) == 0)
        return container::wave;
    if (std::memcmp(head, "fLaC", 4) == 0)
        return container::flac;
    return std::memcmp(head, "OggS", 4) == 0 ? container::ogg : container::other;
}

// Whether libsndfile found what the first bytes promised, and what the player plays of it.
bool playable(container kind, int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    switch (kind) {
    case container::wave:
        // RF64 is the wave file that outgrew 4 GiB; libsndfile names it apart.
        return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
    case container::flac:
        return major == SF_FORMAT_FLAC;
    case container::ogg:
        return major == SF_FORMAT_OGG && (sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS);
    case container::other:
        break;
    }
    return false;
}

// The sample layout that carries a stream's samples without changing any of them; lossy codecs
// decode to floats, which keep what the codec made, peaks above full scale included.
sample_format format_for(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
        return sample_format::s32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
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
    if (mpeg_)
        mpg123_delete(mpeg_);
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
    const container kind = sniff(fd_);
    if (kinds == file_kinds::wave && kind != container::wave)
        return refuse(mci::err_invalid_file, "not a wave file");
    const mci::error failed =
        kind == container::other ? open_mpeg() : open_sndfile(static_cast<int>(kind));
    if (failed)
        return failed;
    if (channels_ < 1 || channels_ > max_channels || rate_ < 1 || rate_ > max_rate || frames_ < 0)
        return refuse(mci::err_invalid_file, "its channels or rate are out of range");
    const auto frames = static_cast<std::uint64_t>(frames_);
    const std::uint64_t ms = frames / rate_ * 1000 + frames % rate_ * 1000 / rate_;
    if (frames / rate_ > UINT32_MAX || ms > UINT32_MAX)
        return refuse(mci::err_invalid_file, "its length cannot be told");
    length_ms_ = static_cast<std::uint32_t>(ms);
    return 0;
}

mci::error sound_file::open_sndfile(int kind) {
    SF_INFO header{};
    file_ = sf_open_fd(fd_, SFM_READ, &header, SF_FALSE);
    if (!file_)
        return refuse(mci::err_invalid_file, "not a sound file the player can read");
    if (!playable(static_cast<container>(kind), header.format))
        return refuse(mci::err_invalid_file, "not a kind of sound file the player plays");
    format_ = format_for(header.format & SF_FORMAT_SUBMASK);
    channels_ = static_cast<unsigned>(std::max(header.channels, 0));
    rate_ = static_cast<unsigned>(std::max(header.samplerate, 0));
    // A cut-off Ogg stream has no last page to tell its length by: libsndfile reports the most
    // frames there can be, which the length check refuses.
    frames_ = header.frames;
    return 0;
}

// MPEG frames carry no total: a file without a Xing or Info header has only an estimate, which
// falls short for variable bit rates and would cut the song there. libmpg123's scan reads every
// frame's header (a millisecond or so a minute of audio) for the exact count, and its decoding
// goes on to the last frame whatever the count says.
mci::error sound_file::open_mpeg() {
    mpeg_ = mpg123_new(nullptr, nullptr);
    if (!mpeg_)
        return refuse(mci::err_out_of_memory, "out of memory");
    // Quiet, floats at the stream's own rate and channels, and no resync through garbage.
    mpg123_param(mpeg_, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT, 0);
    mpg123_param(mpeg_, MPG123_RESYNC_LIMIT, 16384, 0);
    mpg123_format_none(mpeg_);
    const long *rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(mpeg_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (::lseek(fd_, 0, SEEK_SET) != 0 || mpg123_open_fd(mpeg_, fd_) != MPG123_OK ||
        mpg123_getformat(mpeg_, &rate, &channels, &encoding) != MPG123_OK ||
        mpg123_scan(mpeg_) != MPG123_OK)
        return refuse(mci::err_invalid_file, "not a sound file the player can read");
    const off_t length = mpg123_length(mpeg_);
    if (length <= 0)
        return refuse(mci::err_invalid_file, "no MPEG audio in it");
    format_ = sample_format::f32;
    channels_ = static_cast<unsigned>(channels);
    rate_ = static_cast<unsigned>(rate);
    frames_ = length;
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
    const bool sought =
        mpeg_ ? mpg123_seek(mpeg_, frame, SEEK_SET) >= 0 : sf_seek(file_, frame, SEEK_SET) >= 0;
    if (sought) {
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
    if (mpeg_) {
        // A change of format mid-stream ends the track where it comes: the device is set up for
        // the first.
        std::size_t done = 0;
        const int status = mpg123_read(mpeg_, frames, count * frame_bytes(), &done);
        got = status == MPG123_OK || status == MPG123_DONE
                  ? static_cast<sf_count_t>(done / frame_bytes())
                  : 0;
    } else {
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
    }
    if (got <= 0)
        return 0;
    position_ += got;
    return static_cast<std::size_t>(got);
}

} // namespace plat::audio
