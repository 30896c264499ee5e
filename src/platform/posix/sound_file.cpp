// Opening sound files, after checking that they are safe to read, with the decoder that their
// first bytes call for.
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

constexpr unsigned max_channels = 64;
// The highest rate a FLAC stream can say.
constexpr unsigned max_rate = 1048575;

// The first bytes of a file, and of what follows an ID3v2 tag in front of it.
struct head {
    unsigned char at[64] = {};
    std::size_t size = 0;

    bool starts(const char *magic, std::size_t offset = 0) const {
        const std::size_t n = std::strlen(magic);
        return offset + n <= size && std::memcmp(at + offset, magic, n) == 0;
    }
};

bool is_wave(const head &h) {
    return (h.starts("RIFF") || h.starts("RIFX") || h.starts("RF64")) && h.starts("WAVE", 8);
}

bool is_aiff(const head &h) {
    return h.starts("FORM") && (h.starts("AIFF", 8) || h.starts("AIFC", 8));
}

// A FLAC frame header's own checksum.
unsigned char crc8(const unsigned char *bytes, std::size_t size) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? ((crc << 1) ^ 0x07) & 0xFF : (crc << 1) & 0xFF;
    }
    return static_cast<unsigned char>(crc);
}

// A stream that starts at a FLAC frame rather than at "fLaC". Its sync is also that of MPEG-2
// AAC in ADTS, so the header's fields and checksum must hold too.
bool is_flac_frame(const head &h) {
    const unsigned char *b = h.at;
    if (h.size < 6 || b[0] != 0xFF || (b[1] & 0xFE) != 0xF8 || (b[2] >> 4) == 0 ||
        (b[2] & 0x0F) == 0x0F || (b[3] >> 4) > 10 || ((b[3] >> 1) & 7) == 3 || (b[3] & 1))
        return false;
    // The frame or sample number, coded as UTF-8 codes its characters.
    std::size_t n = 4;
    int more = 0;
    for (unsigned lead = b[n]; lead & 0x80; lead <<= 1)
        ++more;
    if (more == 1 || more > 7)
        return false;
    n += static_cast<std::size_t>(more ? more : 1);
    const unsigned block = b[2] >> 4;
    const unsigned rate = b[2] & 0x0F;
    n += block == 6 ? 1 : block == 7 ? 2 : 0;
    n += rate == 12 ? 1 : rate >= 13 ? 2 : 0;
    return n < h.size && crc8(b, n) == b[n];
}

bool is_flac(const head &h) {
    return h.starts("fLaC") || is_flac_frame(h);
}

// An Ogg stream's first packet, which names its codec, comes right after the first page's
// segment table.
bool ogg_holds(const head &h, const char *codec) {
    if (!h.starts("OggS") || h.size < 27)
        return false;
    return h.starts(codec, 27 + std::size_t{h.at[26]});
}

bool is_ogg_flac(const head &h) {
    return ogg_holds(h, "\x7F"
                        "FLAC");
}

bool is_ogg_sndfile(const head &h) {
    return ogg_holds(h, "\x01vorbis") || ogg_holds(h, "OpusHead");
}

// MPEG-2 and MPEG-4 AAC in ADTS frames: the sync, layer 0, and a rate that exists. FLAC frames
// share the sync, and are told apart first.
bool is_adts(const head &h) {
    return h.size >= 7 && h.at[0] == 0xFF && (h.at[1] & 0xF6) == 0xF0 &&
           ((h.at[2] >> 2) & 0x0F) < 13;
}

// The GUID an ASF file, such as a WMA file, starts with.
constexpr unsigned char asf_guid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// What FFmpeg's module reads: MP4 (AAC and ALAC in .m4a), ASF (WMA), Matroska and WebM
// (the same EBML header), WavPack and APE.
bool is_for_ffmpeg(const head &h) {
    return h.starts("ftyp", 4) || is_adts(h) ||
           (h.size >= sizeof asf_guid && std::memcmp(h.at, asf_guid, sizeof asf_guid) == 0) ||
           h.starts("\x1A\x45\xDF\xA3") || h.starts("wvpk") || h.starts("MAC ");
}

// Whatever is none of the others is MPEG audio or nothing, for libmpg123 to say. libsndfile
// never sees it: its MPEG probe prints to stderr, which would write on the player's screen.
bool anything(const head &) {
    return true;
}

// The kinds of file the player reads, by their first bytes, tried in this order.
struct kind {
    bool (*is)(const head &);
    opener open;
    file_kinds played_by; // wave: every device type plays it; any: only "MPEGVideo"
};
constexpr kind kinds_by_head[] = {
    {is_wave, open_sndfile, file_kinds::wave},       {is_aiff, open_sndfile, file_kinds::any},
    {is_flac, open_flac, file_kinds::any},           {is_ogg_flac, open_ogg_flac, file_kinds::any},
    {is_ogg_sndfile, open_sndfile, file_kinds::any}, {is_for_ffmpeg, open_ffmpeg, file_kinds::any},
    {anything, open_mpg123, file_kinds::any},
};

// The first bytes, and for a file that starts with an ID3v2 tag (MP3 and FLAC may), those
// behind the tag.
head read_head(int fd) {
    head h;
    const ssize_t n = ::pread(fd, h.at, sizeof h.at, 0);
    h.size = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (!h.starts("ID3") || h.size < 10 || ((h.at[6] | h.at[7] | h.at[8] | h.at[9]) & 0x80))
        return h;
    const off_t tag =
        10 + (h.at[5] & 0x10 ? 10 : 0) +
        ((off_t{h.at[6]} << 21) | (off_t{h.at[7]} << 14) | (off_t{h.at[8]} << 7) | off_t{h.at[9]});
    head behind;
    const ssize_t m = ::pread(fd, behind.at, sizeof behind.at, tag);
    behind.size = m > 0 ? static_cast<std::size_t>(m) : 0;
    // An MP3 stays MP3 whatever follows its tag; only FLAC and ADTS are told apart behind one.
    return is_flac(behind) || is_adts(behind) ? behind : h;
}

} // namespace

sound_file::~sound_file() {
    decoder_.reset();
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
    const head h = read_head(fd_);
    const kind *found = std::find_if(std::begin(kinds_by_head), std::end(kinds_by_head),
                                     [&h](const kind &k) { return k.is(h); });
    if (kinds == file_kinds::wave && found->played_by != file_kinds::wave)
        return refuse(mci::err_invalid_file, "not a wave file");
    const char *why = "not a sound file the player can read";
    decoder_ = found->open(fd_, info_, why);
    if (!decoder_)
        return refuse(mci::err_invalid_file, why);
    if (info_.channels < 1 || info_.channels > max_channels || info_.rate < 1 ||
        info_.rate > max_rate || info_.frames < 0)
        return refuse(mci::err_invalid_file, "its channels or rate are out of range");
    const auto frames = static_cast<std::uint64_t>(info_.frames);
    const std::uint64_t ms = frames / info_.rate * 1000 + frames % info_.rate * 1000 / info_.rate;
    if (frames / info_.rate > UINT32_MAX || ms > UINT32_MAX)
        return refuse(mci::err_invalid_file, "its length cannot be told");
    length_ms_ = static_cast<std::uint32_t>(ms);
    return 0;
}

mci::error sound_file::refuse(mci::error error, const char *reason) {
    decoder_.reset();
    std::snprintf(reason_, sizeof reason_, "%s", reason);
    return error;
}

bool sound_file::seek_ms(std::uint32_t ms) {
    return seek_frame(static_cast<std::int64_t>(std::uint64_t{ms} * info_.rate / 1000));
}

bool sound_file::seek_frame(std::int64_t frame) {
    frame = std::clamp<std::int64_t>(frame, 0, info_.frames);
    // G.72x ADPCM, among others, decodes only straight through: a play from where the file
    // stands, as every first play from 0 is, must not depend on a seek.
    if (frame == position_)
        return true;
    if (decoder_->seek(frame)) {
        position_ = frame;
        return true;
    }
    if (frame < position_)
        return false;
    std::vector<unsigned char> passed(4096 * frame_bytes());
    while (position_ < frame) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(4096, frame - position_));
        if (read(passed.data(), want) == 0)
            return false;
    }
    return position_ == frame;
}

std::size_t sound_file::read(void *frames, std::size_t count) {
    const std::size_t got = decoder_->read(frames, count);
    position_ += static_cast<std::int64_t>(got);
    return got;
}

} // namespace plat::audio
