// The FFmpeg module: MP4 (AAC, ALAC), ADTS, ASF (WMA), Matroska and WebM, WavPack and APE,
// through libavformat, libavcodec and libswresample, in a shared object the engine loads itself.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <memory>

#include "platform/posix/decoder_module.h"
#include "platform/posix/ffmpeg_container.h"

namespace plat::audio {
namespace {

// FFmpeg's sample layouts, each carried in the one of ours that keeps every bit of it.
sample_format format_for(AVSampleFormat format) {
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
        return sample_format::s16;
    case AV_SAMPLE_FMT_FLT:
        return sample_format::f32;
    case AV_SAMPLE_FMT_DBL:
        return sample_format::f64;
    default:
        return sample_format::s32;
    }
}

AVSampleFormat av_format(sample_format format) {
    switch (format) {
    case sample_format::s16:
        return AV_SAMPLE_FMT_S16;
    case sample_format::s32:
        return AV_SAMPLE_FMT_S32;
    case sample_format::f32:
        return AV_SAMPLE_FMT_FLT;
    default:
        return AV_SAMPLE_FMT_DBL;
    }
}

// A layout that names no speakers, which libswresample cannot convert from, is taken in the
// order a wave file without a channel mask has.
void known_order(AVChannelLayout &layout) {
    if (layout.order != AV_CHANNEL_ORDER_NATIVE) {
        const int channels = layout.nb_channels;
        av_channel_layout_uninit(&layout);
        av_channel_layout_default(&layout, channels);
    }
}

class ffmpeg_decoder : public decoder {
  public:
    explicit ffmpeg_decoder(int fd) : fd_(fd) {}
    ~ffmpeg_decoder() override {
        swr_free(&swr_);
        av_channel_layout_uninit(&out_layout_);
        av_channel_layout_uninit(&in_layout_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
    }
    ffmpeg_decoder(const ffmpeg_decoder &) = delete;
    ffmpeg_decoder &operator=(const ffmpeg_decoder &) = delete;

    // Opens the container and its decoder, and decodes the first frame, whose format is the
    // stream's: HE-AAC, for one, says its real rate only there.
    bool open(stream_info &info, const char *&reason) {
        reason = "not a sound file the player can read";
        if (!input_->open())
            return false;
        reason = "its codec is not one the player decodes";
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!frame_ || !packet_ || !open_codec())
            return false;
        reason = "no sound in it can be decoded";
        if (!next_frame())
            return false;
        info.format = format_;
        info.channels = static_cast<unsigned>(out_layout_.nb_channels);
        info.rate = rate_;
        if (out_layout_.order == AV_CHANNEL_ORDER_NATIVE && info.channels <= most_placed)
            info.layout =
                layout_of_mask(static_cast<std::uint32_t>(out_layout_.u.mask), info.channels);
        info.frames = length();
        reason = "its length cannot be told";
        return info.frames > 0;
    }

    std::size_t read(void *frames, std::size_t count) override {
        if (end_ >= 0)
            count = static_cast<std::size_t>(
                std::clamp<std::int64_t>(end_ - at_, 0, static_cast<std::int64_t>(count)));
        const std::size_t got =
            read_blocks(pending_, frames, count, sample_bytes(format_) * info_channels(),
                        [this] { return next_frame(); });
        at_ += static_cast<std::int64_t>(got);
        return got;
    }

    // To the key frame at or before the frame, then decoded up to it, told by the timestamps.
    // The start is the container and the decoder opened afresh: a seek there does not skip the
    // encoder's delay again in every demuxer and decoder (Opus in Matroska, for one).
    bool seek(std::int64_t frame) override {
        if (frame == 0) {
            auto fresh = std::make_unique<container>(fd_);
            if (!fresh->open())
                return false;
            input_ = std::move(fresh);
            if (!open_codec())
                return false;
        } else {
            AVStream *stream = input_->stream();
            const std::int64_t start = start_of(stream);
            const std::int64_t at =
                start +
                av_rescale_q(frame, AVRational{1, static_cast<int>(rate_)}, stream->time_base);
            if (av_seek_frame(input_->format(), input_->index(), at, AVSEEK_FLAG_BACKWARD) < 0)
                return false;
            avcodec_flush_buffers(codec_);
        }
        swr_free(&swr_);
        draining_ = false;
        skip_to_ = frame > 0 ? frame : -1;
        at_ = frame;
        pending_.clear();
        return true;
    }

  private:
    // The decoder for the container's stream, set up afresh.
    bool open_codec() {
        const AVCodecParameters *parameters = input_->stream()->codecpar;
        const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
        avcodec_free_context(&codec_);
        codec_ = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!codec_ || avcodec_parameters_to_context(codec_, parameters) < 0)
            return false;
        // One thread: a frame of audio takes microseconds.
        codec_->thread_count = 1;
        return avcodec_open2(codec_, codec, nullptr) >= 0;
    }

    unsigned info_channels() const { return static_cast<unsigned>(out_layout_.nb_channels); }
    std::size_t pending_frames() const {
        return pending_.frames(sample_bytes(format_) * info_channels());
    }

    // What the container says, or else what the packets add up to. A length that FFmpeg only
    // estimated from the bit rate is no length at all. A container that counts in samples (MP4's
    // sample tables, less the encoder's delay and padding that its edit list declares; WavPack;
    // APE) says where the sound ends, and the decoder stops there: FFmpeg leaves MP4's padding
    // at the end in, nearly a frame of AAC.
    std::int64_t length() {
        const AVFormatContext *format = input_->format();
        const AVStream *stream = input_->stream();
        if (format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
            const AVRational tb = stream->time_base;
            const int rate = static_cast<int>(rate_);
            // HE-AAC's tables may count at the core's rate, half the rate decoded.
            const bool in_samples =
                av_cmp_q(tb, AVRational{1, rate}) == 0 || av_cmp_q(tb, AVRational{2, rate}) == 0;
            if (stream->duration > 0 && in_samples)
                return end_ = samples(stream->duration, tb, rate_);
            if (stream->duration > 0)
                return samples(stream->duration, tb, rate_);
            if (format->duration > 0)
                return samples(format->duration, AV_TIME_BASE_Q, rate_);
        }
        container counting(fd_);
        return counting.open() ? count_frames(counting, rate_) : 0;
    }

    // Decodes the next frame into pending_, in the stream's format; false at the end. A packet
    // that does not decode costs that packet.
    bool next_frame() {
        pending_.clear();
        for (;;) {
            const int received = avcodec_receive_frame(codec_, frame_);
            if (received == 0) {
                const bool any = take_frame();
                av_frame_unref(frame_);
                if (any)
                    return true;
                continue;
            }
            if (received == AVERROR_EOF || draining_)
                return flush_resampler();
            if (av_read_frame(input_->format(), packet_) < 0) {
                avcodec_send_packet(codec_, nullptr);
                draining_ = true;
                continue;
            }
            if (packet_->stream_index == input_->index())
                avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
        }
    }

    // Converts frame_ to the stream's format, interleaved, into pending_; the first frame sets
    // that format. false when nothing of it is kept.
    bool take_frame() {
        AVChannelLayout layout{};
        if (av_channel_layout_copy(&layout, &frame_->ch_layout) < 0)
            return false;
        known_order(layout);
        const auto in_format = static_cast<AVSampleFormat>(frame_->format);
        if (rate_ == 0) {
            format_ = format_for(in_format);
            rate_ = static_cast<unsigned>(frame_->sample_rate);
            av_channel_layout_copy(&out_layout_, &layout);
        }
        const bool same = swr_ && in_format == in_format_ && frame_->sample_rate == in_rate_ &&
                          av_channel_layout_compare(&layout, &in_layout_) == 0;
        if (!same && !resample_from(layout, in_format, frame_->sample_rate)) {
            av_channel_layout_uninit(&layout);
            return false;
        }
        av_channel_layout_uninit(&layout);
        if (convert(const_cast<const std::uint8_t **>(frame_->extended_data), frame_->nb_samples) <=
            0)
            return false;
        // After a seek, what lies before the frame asked for is dropped.
        if (skip_to_ >= 0 && frame_->best_effort_timestamp != AV_NOPTS_VALUE) {
            const AVStream *stream = input_->stream();
            const std::int64_t start = start_of(stream);
            const std::int64_t first =
                samples(frame_->best_effort_timestamp - start, stream->time_base, rate_);
            const auto drop = static_cast<std::size_t>(std::clamp<std::int64_t>(
                skip_to_ - first, 0, static_cast<std::int64_t>(pending_frames())));
            pending_.taken = drop;
            if (drop < pending_frames())
                skip_to_ = -1;
        }
        return pending_.taken < pending_frames();
    }

    // Sets libswresample up to bring frames of this layout, format and rate to the stream's: for
    // the stream's own, it only interleaves, changing no sample.
    bool resample_from(AVChannelLayout &layout, AVSampleFormat format, int rate) {
        swr_free(&swr_);
        av_channel_layout_uninit(&in_layout_);
        if (swr_alloc_set_opts2(&swr_, &out_layout_, av_format(format_), static_cast<int>(rate_),
                                &layout, format, rate, 0, nullptr) < 0 ||
            swr_init(swr_) < 0) {
            swr_free(&swr_);
            return false;
        }
        av_channel_layout_copy(&in_layout_, &layout);
        in_format_ = format;
        in_rate_ = rate;
        return true;
    }

    // Converts count frames of in into pending_, or with none what the resampler still holds;
    // the frames made.
    int convert(const std::uint8_t **in, int count) {
        const int room = swr_get_out_samples(swr_, count);
        if (room <= 0)
            return 0;
        const std::size_t frame_bytes = sample_bytes(format_) * info_channels();
        pending_.bytes.resize(static_cast<std::size_t>(room) * frame_bytes);
        std::uint8_t *out = pending_.bytes.data();
        const int made = swr_convert(swr_, &out, room, in, count);
        pending_.bytes.resize(static_cast<std::size_t>(std::max(made, 0)) * frame_bytes);
        return made;
    }

    // What a resampler still holds at the end of the stream.
    bool flush_resampler() {
        return swr_ && in_rate_ != static_cast<int>(rate_) && convert(nullptr, 0) > 0;
    }

    int fd_;
    std::unique_ptr<container> input_ = std::make_unique<container>(fd_);
    AVCodecContext *codec_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    bool draining_ = false; // the container has ended and the decoder gives what it holds
    // The stream's format, which every frame is brought to: that of its first frame.
    sample_format format_ = sample_format::s16;
    unsigned rate_ = 0;
    AVChannelLayout out_layout_{};
    // The resampler, and the format of the frames it was set up for.
    SwrContext *swr_ = nullptr;
    AVChannelLayout in_layout_{};
    AVSampleFormat in_format_ = AV_SAMPLE_FMT_NONE;
    int in_rate_ = 0;
    // The last frame decoded, converted, and how much of it is read.
    decoded_block pending_;
    // The frame a seek asked for, until the frame that holds it is decoded.
    std::int64_t skip_to_ = -1;
    // The frame the next read hands over, and the one the sound ends before, when the container
    // says so to the sample.
    std::int64_t at_ = 0;
    std::int64_t end_ = -1;
};

std::unique_ptr<decoder> open(int fd, stream_info &info, const char *&reason) {
    auto d = std::make_unique<ffmpeg_decoder>(fd);
    if (!d->open(info, reason))
        return nullptr;
    return d;
}

constexpr module_table table{module_abi, sizeof(stream_info), open};

} // namespace
} // namespace plat::audio

// FFmpeg writes its warnings to standard error, on the player's screen, unless told not to.
extern "C" __attribute__((visibility("default"))) const plat::audio::module_table *
kestrova_decoder_module() {
    av_log_set_level(AV_LOG_QUIET);
    return &plat::audio::table;
}
