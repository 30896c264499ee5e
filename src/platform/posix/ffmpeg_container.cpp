// The FFmpeg module's demuxing half: the file through its descriptor, and its container.
#include "platform/posix/ffmpeg_container.h"

#include <unistd.h>

#include <cstring>

namespace plat::audio {
namespace {

// The demuxers that the engine's look at the first bytes hands files to; no other is tried.
constexpr char demuxers[] = "mov,aac,asf,matroska,wv,ape";
constexpr int io_buffer_bytes = 32768;

} // namespace

int source::read(void *opaque, std::uint8_t *buffer, int size) {
    auto &s = *static_cast<source *>(opaque);
    const ssize_t n = ::pread(s.fd, buffer, static_cast<std::size_t>(size), s.at);
    if (n <= 0)
        return n == 0 ? AVERROR_EOF : AVERROR(EIO);
    s.at += n;
    return static_cast<int>(n);
}

std::int64_t source::seek(void *opaque, std::int64_t offset, int whence) {
    auto &s = *static_cast<source *>(opaque);
    const off_t size = ::lseek(s.fd, 0, SEEK_END);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        return s.at = offset;
    case SEEK_CUR:
        return s.at += offset;
    case SEEK_END:
        return s.at = size + offset;
    default:
        return -1;
    }
}

container::~container() {
    avformat_close_input(&format_);
    if (io_)
        av_freep(&io_->buffer);
    avio_context_free(&io_);
}

bool container::open() {
    auto *buffer = static_cast<unsigned char *>(av_malloc(io_buffer_bytes));
    io_ = buffer ? avio_alloc_context(buffer, io_buffer_bytes, 0, &source_, source::read, nullptr,
                                      source::seek)
                 : nullptr;
    if (!io_) {
        av_free(buffer);
        return false;
    }
    format_ = avformat_alloc_context();
    if (!format_)
        return false;
    format_->pb = io_;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", demuxers, 0);
    const int opened = avformat_open_input(&format_, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return false;
    if (avformat_find_stream_info(format_, nullptr) < 0)
        return false;
    index_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    return index_ >= 0;
}

std::int64_t count_frames(container &c, unsigned rate) {
    AVPacket *packet = av_packet_alloc();
    std::int64_t total = 0;
    while (packet && av_read_frame(c.format(), packet) >= 0) {
        if (packet->stream_index == c.index()) {
            total += samples(packet->duration, c.stream()->time_base, rate);
            std::size_t size = 0;
            const std::uint8_t *skip =
                av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8) {
                std::uint32_t start, end;
                std::memcpy(&start, skip, 4);
                std::memcpy(&end, skip + 4, 4);
                total -= static_cast<std::int64_t>(start) + end;
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return total;
}

} // namespace plat::audio
