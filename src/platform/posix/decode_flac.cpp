// FLAC, native or in Ogg, through libFLAC, the format's own reference decoder.
#include <FLAC/stream_decoder.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/decoder.h"

namespace plat::audio {
namespace {

// FLAC's own channel order for each count, as wave channel masks; every one of them lists its
// speakers in the mask's order.
constexpr std::uint32_t flac_masks[most_placed] = {0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

// What the encoder keeps of a wave file's channel mask when it is not FLAC's own order.
constexpr char mask_tag[] = "WAVEFORMATEXTENSIBLE_CHANNEL_MASK=";

class flac_decoder : public decoder {
  public:
    explicit flac_decoder(int fd) : fd_(fd), flac_(FLAC__stream_decoder_new()) {}
    ~flac_decoder() override {
        if (flac_)
            FLAC__stream_decoder_delete(flac_);
    }
    flac_decoder(const flac_decoder &) = delete;
    flac_decoder &operator=(const flac_decoder &) = delete;

    // Reads the stream's metadata and first frame; the format comes from STREAMINFO, or from the
    // first frame's header for a stream that starts at one.
    bool open(bool ogg, stream_info &info, const char *&reason) {
        reason = "not a FLAC stream the player can read";
        if (!flac_ || ::lseek(fd_, 0, SEEK_SET) != 0)
            return false;
        FLAC__stream_decoder_set_metadata_respond(flac_, FLAC__METADATA_TYPE_VORBIS_COMMENT);
        const auto init =
            ogg ? FLAC__stream_decoder_init_ogg_stream : FLAC__stream_decoder_init_stream;
        if (init(flac_, on_read, on_seek, on_tell, on_length, on_eof, on_write, on_metadata,
                 on_error, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
            !FLAC__stream_decoder_process_until_end_of_metadata(flac_) || !next_frame() ||
            channels_ == 0 || rate_ == 0) {
            reason = "no FLAC frame in it that can be decoded";
            return false;
        }
        info.format = container_bits_ == 16 ? sample_format::s16 : sample_format::s32;
        info.channels = channels_;
        info.rate = rate_;
        if (channels_ <= most_placed) {
            info.layout = layout_of_mask(mask_, channels_);
            if (info.layout[0] == speaker::none)
                info.layout = layout_of_mask(flac_masks[channels_ - 1], channels_);
        }
        info.frames = static_cast<std::int64_t>(total_);
        if (total_ == 0 && !count(info.frames)) {
            reason = "its length cannot be told";
            return false;
        }
        return true;
    }

    std::size_t read(void *frames, std::size_t count) override {
        return read_blocks(pending_, frames, count, frame_bytes(), [this] { return next_frame(); });
    }

    bool seek(std::int64_t frame) override {
        pending_.clear();
        expected_ = static_cast<FLAC__uint64>(frame);
        if (FLAC__stream_decoder_seek_absolute(flac_, expected_))
            return true;
        // A stream with no STREAMINFO, or damaged where the search lands, is decoded from its
        // start up to the frame instead.
        expected_ = unknown;
        if (!FLAC__stream_decoder_reset(flac_))
            return false;
        for (std::int64_t passed = 0; passed < frame;) {
            if (!next_frame())
                return false;
            const auto n =
                std::min<std::int64_t>(frame - passed, static_cast<std::int64_t>(pending_frames()));
            pending_.taken = static_cast<std::size_t>(n);
            passed += n;
        }
        return true;
    }

  private:
    std::size_t frame_bytes() const { return container_bits_ / 8 * channels_; }
    std::size_t pending_frames() const { return channels_ ? pending_.frames(frame_bytes()) : 0; }

    // Decodes the next frame into pending_; false at the end of the stream or when it cannot go
    // on. Frames that do not fit the stream's format are passed over.
    bool next_frame() {
        pending_.clear();
        while (pending_.bytes.empty()) {
            if (!FLAC__stream_decoder_process_single(flac_))
                return false;
            const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(flac_);
            if (state == FLAC__STREAM_DECODER_END_OF_STREAM ||
                state == FLAC__STREAM_DECODER_ABORTED)
                return false;
        }
        return true;
    }

    // A stream that does not say its length, as the encoder leaves it when it writes to a pipe:
    // every frame's header is read, without decoding, and the reading starts again from the top.
    bool count(std::int64_t &frames) {
        std::int64_t total = static_cast<std::int64_t>(pending_frames());
        while (FLAC__stream_decoder_skip_single_frame(flac_)) {
            const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(flac_);
            if (state == FLAC__STREAM_DECODER_END_OF_STREAM ||
                state == FLAC__STREAM_DECODER_ABORTED)
                break;
            total += FLAC__stream_decoder_get_blocksize(flac_);
        }
        frames = total;
        pending_.clear();
        expected_ = unknown;
        return total > 0 && FLAC__stream_decoder_reset(flac_);
    }

    void take_frame(const FLAC__Frame *frame, const FLAC__int32 *const channels[]) {
        const FLAC__FrameHeader &head = frame->header;
        if (channels_ == 0) {
            channels_ = head.channels;
            rate_ = head.sample_rate;
            bits_ = head.bits_per_sample;
        }
        if (container_bits_ == 0)
            container_bits_ = bits_ <= 16 ? 16 : 32;
        if (head.channels != channels_ || head.bits_per_sample == 0 ||
            head.bits_per_sample > container_bits_)
            return;
        // A frame lost to damage leaves silence in its place, as long as it lasted, so that
        // what follows plays at its time; a gap of more than ten seconds is no lost frame.
        const FLAC__uint64 at = head.number.sample_number;
        const FLAC__uint64 gap =
            expected_ != unknown && at > expected_ && at - expected_ <= 10ull * rate_
                ? at - expected_
                : 0;
        expected_ = at + head.blocksize;
        // Every bit kept, at the top of the container, as a wave file holds 12 or 20 bits.
        const unsigned shift = container_bits_ - head.bits_per_sample;
        // libFLAC may hand over more than one frame in a call, as when it stands in silence for
        // one it lost: each is added to what is pending.
        const std::size_t kept = pending_.bytes.size();
        const std::size_t silent = static_cast<std::size_t>(gap) * channels_;
        const std::size_t samples = silent + std::size_t{head.blocksize} * channels_;
        pending_.bytes.resize(kept + samples * (container_bits_ / 8), 0);
        unsigned char *to = pending_.bytes.data() + kept;
        if (container_bits_ == 16)
            interleave(reinterpret_cast<std::int16_t *>(to) + silent, channels, head.blocksize,
                       shift);
        else
            interleave(reinterpret_cast<std::int32_t *>(to) + silent, channels, head.blocksize,
                       shift);
    }

    template <typename Sample>
    void interleave(Sample *out, const FLAC__int32 *const channels[], unsigned frames,
                    unsigned shift) const {
        for (unsigned i = 0; i < frames; ++i)
            for (unsigned c = 0; c < channels_; ++c)
                *out++ = static_cast<Sample>(static_cast<std::uint32_t>(channels[c][i]) << shift);
    }

    void take_metadata(const FLAC__StreamMetadata *meta) {
        if (meta->type == FLAC__METADATA_TYPE_STREAMINFO) {
            const auto &s = meta->data.stream_info;
            channels_ = s.channels;
            rate_ = s.sample_rate;
            bits_ = s.bits_per_sample;
            total_ = s.total_samples;
            return;
        }
        if (meta->type != FLAC__METADATA_TYPE_VORBIS_COMMENT)
            return;
        const auto &comments = meta->data.vorbis_comment;
        for (FLAC__uint32 i = 0; i < comments.num_comments; ++i) {
            const auto &c = comments.comments[i];
            const std::size_t n = sizeof mask_tag - 1;
            if (c.length <= n || c.length > n + 10 ||
                ::strncasecmp(reinterpret_cast<const char *>(c.entry), mask_tag, n) != 0)
                continue;
            const std::string value(reinterpret_cast<const char *>(c.entry) + n, c.length - n);
            char *end = nullptr;
            const unsigned long mask = std::strtoul(value.c_str(), &end, 16);
            if (end && *end == '\0')
                mask_ = static_cast<std::uint32_t>(mask);
        }
    }

    static flac_decoder &self(void *data) { return *static_cast<flac_decoder *>(data); }

    static FLAC__StreamDecoderReadStatus on_read(const FLAC__StreamDecoder *, FLAC__byte buffer[],
                                                 std::size_t *bytes, void *data) {
        ssize_t n;
        while ((n = ::read(self(data).fd_, buffer, *bytes)) < 0 && errno == EINTR) {
        }
        if (n <= 0) {
            *bytes = 0;
            return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                          : FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = static_cast<std::size_t>(n);
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderSeekStatus on_seek(const FLAC__StreamDecoder *, FLAC__uint64 to,
                                                 void *data) {
        return ::lseek(self(data).fd_, static_cast<off_t>(to), SEEK_SET) < 0
                   ? FLAC__STREAM_DECODER_SEEK_STATUS_ERROR
                   : FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus on_tell(const FLAC__StreamDecoder *, FLAC__uint64 *at,
                                                 void *data) {
        const off_t here = ::lseek(self(data).fd_, 0, SEEK_CUR);
        if (here < 0)
            return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
        *at = static_cast<FLAC__uint64>(here);
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus on_length(const FLAC__StreamDecoder *,
                                                     FLAC__uint64 *length, void *data) {
        struct stat info;
        if (::fstat(self(data).fd_, &info) != 0)
            return FLAC__STREAM_DECODER_LENGTH_STATUS_ERROR;
        *length = static_cast<FLAC__uint64>(info.st_size);
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool on_eof(const FLAC__StreamDecoder *, void *data) {
        struct stat info;
        const int fd = self(data).fd_;
        return ::fstat(fd, &info) != 0 || ::lseek(fd, 0, SEEK_CUR) >= info.st_size;
    }
    static FLAC__StreamDecoderWriteStatus on_write(const FLAC__StreamDecoder *,
                                                   const FLAC__Frame *frame,
                                                   const FLAC__int32 *const buffer[], void *data) {
        self(data).take_frame(frame, buffer);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void on_metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *meta,
                            void *data) {
        self(data).take_metadata(meta);
    }
    // A damaged frame costs that frame: libFLAC finds the next one by itself.
    static void on_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *) {}

    int fd_;
    FLAC__StreamDecoder *flac_;
    unsigned channels_ = 0;
    unsigned rate_ = 0;
    // The stream's bits a sample, and 16 for streams of up to 16 bits, else 32.
    unsigned bits_ = 0;
    unsigned container_bits_ = 0;
    FLAC__uint64 total_ = 0;
    std::uint32_t mask_ = 0;
    // The sample number the next frame should start at, after a frame or a seek.
    static constexpr FLAC__uint64 unknown = ~FLAC__uint64{0};
    FLAC__uint64 expected_ = unknown;
    // The last frame decoded, interleaved in the container's samples, and how much of it is read.
    decoded_block pending_;
};

} // namespace

namespace {

std::unique_ptr<decoder> open_stream(int fd, bool ogg, stream_info &info, const char *&reason) {
    auto d = std::make_unique<flac_decoder>(fd);
    if (!d->open(ogg, info, reason))
        return nullptr;
    return d;
}

} // namespace

std::unique_ptr<decoder> open_flac(int fd, stream_info &info, const char *&reason) {
    return open_stream(fd, false, info, reason);
}

std::unique_ptr<decoder> open_ogg_flac(int fd, stream_info &info, const char *&reason) {
    return open_stream(fd, true, info, reason);
}

} // namespace plat::audio
