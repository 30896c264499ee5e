// The FFmpeg module's demuxing half: a file's container opened through its descriptor, its audio
// stream chosen, and its frames counted where it does not say how many it holds.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>

namespace plat::audio {

// A stream's samples at its own rate, its start's, since FFmpeg's time bases vary.
inline std::int64_t samples(std::int64_t t, AVRational time_base, unsigned rate) {
    return av_rescale_q(t, time_base, AVRational{1, static_cast<int>(rate)});
}

// Where a stream's timestamps start, in its time base.
inline std::int64_t start_of(const AVStream *stream) {
    return stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
}

// The file, read through its descriptor at a position of the reader's own.
struct source {
    int fd;
    std::int64_t at = 0;

    static int read(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t seek(void *opaque, std::int64_t offset, int whence);
};

// One container opened on the file, with its best audio stream chosen.
class container {
  public:
    explicit container(int fd) : source_{fd} {}
    ~container();
    container(const container &) = delete;
    container &operator=(const container &) = delete;

    // False where no demuxer the engine hands files to reads it, or it holds no audio.
    bool open();

    AVFormatContext *format() const { return format_; }
    AVStream *stream() const { return format_->streams[index_]; }
    int index() const { return index_; }

  private:
    source source_;
    AVIOContext *io_ = nullptr;
    AVFormatContext *format_ = nullptr;
    int index_ = -1;
};

// Counts the frames of a stream that does not say how many it holds, as a raw ADTS stream does
// not: every packet is read, none decoded, and what the container marks to be skipped at either
// end is left out, as the decoder leaves it out.
std::int64_t count_frames(container &c, unsigned rate);

} // namespace plat::audio
