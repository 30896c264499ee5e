// The one small interface that every decoding library sits behind, one source file a library.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/posix/pcm_format.h"

namespace plat::audio {

// What a decoder found its stream to be, fixed for the whole stream: a file that changes its
// format midway is decoded to the format it started in.
struct stream_info {
    sample_format format = sample_format::s16;
    unsigned channels = 0;
    unsigned rate = 0;
    // The exact number of frames, counted where the file does not say it.
    std::int64_t frames = 0;
    // Where each channel goes: the file's own layout, or its format's order for the count.
    channel_layout layout{};
};

class decoder {
  public:
    virtual ~decoder() = default;
    // Decodes up to count frames into frames; 0 at the end, or when decoding cannot go on.
    virtual std::size_t read(void *frames, std::size_t count) = 0;
    // Makes frame the next one read; false when the stream cannot seek there, which leaves the
    // decoder where it was.
    virtual bool seek(std::int64_t frame) = 0;
};

// The frames that a decoder which makes a block at a time (a FLAC frame, a codec's frame) has
// made, interleaved, and how many of them it has handed over.
struct decoded_block {
    std::vector<unsigned char> bytes;
    std::size_t taken = 0;

    void clear() {
        bytes.clear();
        taken = 0;
    }
    std::size_t frames(std::size_t frame_bytes) const { return bytes.size() / frame_bytes; }
};

// Hands over up to count frames from block into frames, making the next block with next() each
// time it runs out, until next() makes none.
template <typename Next>
std::size_t read_blocks(decoded_block &block, void *frames, std::size_t count,
                        std::size_t frame_bytes, Next next) {
    auto *out = static_cast<unsigned char *>(frames);
    std::size_t got = 0;
    while (got < count) {
        if (block.taken == block.frames(frame_bytes) && !next())
            break;
        const std::size_t n = std::min(count - got, block.frames(frame_bytes) - block.taken);
        std::memcpy(out + got * frame_bytes, block.bytes.data() + block.taken * frame_bytes,
                    n * frame_bytes);
        block.taken += n;
        got += n;
    }
    return got;
}

// An opener reads the regular file fd, which it neither closes nor expects at any position, and
// fills info; on failure it returns null and points reason at words for the user.
using opener = std::unique_ptr<decoder> (*)(int fd, stream_info &info, const char *&reason);

// Wave, AIFF, and Ogg Vorbis and Opus, through libsndfile.
std::unique_ptr<decoder> open_sndfile(int fd, stream_info &info, const char *&reason);
// MPEG audio layers I, II and III, through libmpg123.
std::unique_ptr<decoder> open_mpg123(int fd, stream_info &info, const char *&reason);
// FLAC, native or in Ogg, through libFLAC.
std::unique_ptr<decoder> open_flac(int fd, stream_info &info, const char *&reason);
std::unique_ptr<decoder> open_ogg_flac(int fd, stream_info &info, const char *&reason);
// MP4, ADTS, ASF, Matroska and WebM, WavPack and APE, through FFmpeg, in a module that is loaded
// on the first call (decoder_module.cpp); without it, every call fails with words saying so.
std::unique_ptr<decoder> open_ffmpeg(int fd, stream_info &info, const char *&reason);

} // namespace plat::audio
