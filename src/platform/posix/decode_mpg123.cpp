// MPEG audio, layers I, II and III, through libmpg123.
#include <mpg123.h>
#include <unistd.h>

#include <cmath>

#include "platform/posix/decoder.h"

namespace plat::audio {
namespace {

// Bytes of junk libmpg123 may pass over to find the next frame, at the start or after a damaged
// frame: enough for a large tag or a broken stretch, not so much that a file of something else
// is searched through as MPEG.
constexpr long resync_limit = 16384;
// Failed reads in a row before the rest of a stream is given up: each one skips what it could
// not decode, so a damaged frame costs that frame.
constexpr int failures_limit = 8;

struct handle_deleter {
    void operator()(mpg123_handle *h) const { mpg123_delete(h); }
};
using handle = std::unique_ptr<mpg123_handle, handle_deleter>;

// A handle that decodes to floats, quiet; with rate 0 at the stream's own rate and channels,
// else always stereo at that rate, whatever the stream's frames say.
handle make_handle(long rate) {
    handle h(mpg123_new(nullptr, nullptr));
    if (!h)
        return h;
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT, 0);
    mpg123_param(h.get(), MPG123_RESYNC_LIMIT, resync_limit, 0);
    mpg123_format_none(h.get());
    if (rate == 0) {
        const long *rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        return h;
    }
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_FORCE_STEREO, 0);
    mpg123_param(h.get(), MPG123_FORCE_RATE, rate, 0);
    mpg123_format(h.get(), rate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    return h;
}

// What resampling adds to or takes from the length that libmpg123 counts, which takes every
// frame as one of the first rate's. A stream rarely changes its rate: frames across it are
// looked at first, and only where one of them differs is every frame counted.
off_t resampled_frames(mpg123_handle *h, long rate) {
    constexpr off_t looks = 64;
    const off_t count = mpg123_framelength(h);
    bool mixed = false;
    mpg123_frameinfo frame;
    for (off_t k = 0; k < looks && !mixed && count > 0; ++k) {
        mixed = mpg123_seek_frame(h, count * k / looks, SEEK_SET) >= 0 &&
                mpg123_framebyframe_next(h) >= 0 && mpg123_info(h, &frame) == MPG123_OK &&
                frame.rate != rate;
    }
    double more = 0;
    if (mixed && mpg123_seek_frame(h, 0, SEEK_SET) >= 0) {
        for (int status;
             (status = mpg123_framebyframe_next(h)) == MPG123_OK || status == MPG123_NEW_FORMAT;) {
            if (mpg123_info(h, &frame) == MPG123_OK && frame.rate != rate)
                more += mpg123_spf(h) * (static_cast<double>(rate) / frame.rate - 1);
        }
    }
    return static_cast<off_t>(std::floor(more));
}

class mpg123_decoder : public decoder {
  public:
    explicit mpg123_decoder(handle h) : h_(std::move(h)) {}

    std::size_t read(void *frames, std::size_t count) override {
        constexpr std::size_t frame_bytes = 2 * sizeof(float);
        auto *out = static_cast<unsigned char *>(frames);
        std::size_t got = 0;
        for (int failures = 0; got < count && failures < failures_limit;) {
            std::size_t done = 0;
            const int status =
                mpg123_read(h_.get(), out + got * frame_bytes, (count - got) * frame_bytes, &done);
            got += done / frame_bytes;
            if (status == MPG123_DONE)
                break;
            // A new mode or rate comes out in the format of the start, so it only needs reading on.
            if (status == MPG123_OK || status == MPG123_NEW_FORMAT)
                failures = 0;
            else
                ++failures;
        }
        return got;
    }

    bool seek(std::int64_t frame) override {
        return mpg123_seek(h_.get(), static_cast<off_t>(frame), SEEK_SET) >= 0;
    }

  private:
    handle h_;
};

} // namespace

// MPEG frames carry no total: a file without a Xing or Info header has only an estimate, which
// falls short for variable bit rates and would cut the song there. libmpg123's scan reads every
// frame's header (a millisecond or so a minute of audio) for the exact count, and its decoding
// goes on to the last frame whatever the count says.
//
// The output is fixed at the first frame's rate, in stereo, so that a stream whose mode or rate
// changes midway plays on: libmpg123 resamples the frames of another rate, and a mono frame comes
// out on both sides.
std::unique_ptr<decoder> open_mpg123(int fd, stream_info &info, const char *&reason) {
    reason = "not a sound file the player can read";
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    {
        handle probe = make_handle(0);
        if (!probe) {
            reason = "out of memory";
            return nullptr;
        }
        if (::lseek(fd, 0, SEEK_SET) != 0 || mpg123_open_fd(probe.get(), fd) != MPG123_OK ||
            mpg123_getformat(probe.get(), &rate, &channels, &encoding) != MPG123_OK)
            return nullptr;
    }
    handle h = make_handle(rate);
    if (!h || ::lseek(fd, 0, SEEK_SET) != 0 || mpg123_open_fd(h.get(), fd) != MPG123_OK ||
        mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK ||
        mpg123_scan(h.get()) != MPG123_OK)
        return nullptr;
    const off_t length = mpg123_length(h.get()) + resampled_frames(h.get(), rate);
    if (length <= 0) {
        reason = "no MPEG audio in it";
        return nullptr;
    }
    // Decoding starts afresh: the seeks of the count leave a stream that changes its format
    // decoded differently from one read straight through.
    mpg123_close(h.get());
    if (::lseek(fd, 0, SEEK_SET) != 0 || mpg123_open_fd(h.get(), fd) != MPG123_OK)
        return nullptr;
    info.format = sample_format::f32;
    info.channels = 2;
    info.rate = static_cast<unsigned>(rate);
    info.frames = length;
    info.layout = {speaker::front_left, speaker::front_right};
    return std::make_unique<mpg123_decoder>(std::move(h));
}

} // namespace plat::audio
