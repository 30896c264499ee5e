// Wave, AIFF, and Ogg Vorbis and Opus through libsndfile.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/decoder.h"

namespace plat::audio {
namespace {

// What the player plays of what libsndfile reads; its FLAC and MPEG have decoders of their own.
bool playable(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    // RF64 is the wave file that outgrew 4 GiB; libsndfile names it apart.
    case SF_FORMAT_RF64:
    case SF_FORMAT_AIFF:
        return true;
    case SF_FORMAT_OGG:
        return sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS;
    default:
        return false;
    }
}

// The sample layout that carries a stream's samples without changing any of them; lossy codecs
// decode to floats, which keep what the codec made, peaks above full scale included.
sample_format format_for(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_DWVW_N:
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

speaker speaker_of(int position) {
    switch (position) {
    case SF_CHANNEL_MAP_MONO:
        return speaker::mono;
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
        return speaker::front_left;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
        return speaker::front_right;
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
        return speaker::front_centre;
    case SF_CHANNEL_MAP_REAR_CENTER:
        return speaker::back_centre;
    case SF_CHANNEL_MAP_REAR_LEFT:
        return speaker::back_left;
    case SF_CHANNEL_MAP_REAR_RIGHT:
        return speaker::back_right;
    case SF_CHANNEL_MAP_LFE:
        return speaker::lfe;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        return speaker::front_left_centre;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        return speaker::front_right_centre;
    case SF_CHANNEL_MAP_SIDE_LEFT:
        return speaker::side_left;
    case SF_CHANNEL_MAP_SIDE_RIGHT:
        return speaker::side_right;
    case SF_CHANNEL_MAP_TOP_CENTER:
        return speaker::top_centre;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        return speaker::top_front_left;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        return speaker::top_front_right;
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
        return speaker::top_front_centre;
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return speaker::top_back_left;
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return speaker::top_back_right;
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
        return speaker::top_back_centre;
    default:
        return speaker::none;
    }
}

// Vorbis's order, which Opus shares, for each count from one to eight channels.
constexpr speaker vorbis_orders[most_placed][most_placed] = {
    {speaker::mono},
    {speaker::front_left, speaker::front_right},
    {speaker::front_left, speaker::front_centre, speaker::front_right},
    {speaker::front_left, speaker::front_right, speaker::back_left, speaker::back_right},
    {speaker::front_left, speaker::front_centre, speaker::front_right, speaker::back_left,
     speaker::back_right},
    {speaker::front_left, speaker::front_centre, speaker::front_right, speaker::back_left,
     speaker::back_right, speaker::lfe},
    {speaker::front_left, speaker::front_centre, speaker::front_right, speaker::side_left,
     speaker::side_right, speaker::back_centre, speaker::lfe},
    {speaker::front_left, speaker::front_centre, speaker::front_right, speaker::side_left,
     speaker::side_right, speaker::back_left, speaker::back_right, speaker::lfe},
};

// The file's own map where it has one (a wave file's channel mask, an AIFF file's channel
// chunk); else its format's order for the count: Vorbis's for Ogg, a mask's lowest bits for the
// rest, as for a wave file with no mask.
channel_layout layout_of(SNDFILE *file, int format, unsigned channels) {
    channel_layout layout{};
    if (channels > most_placed)
        return layout;
    int map[most_placed] = {};
    // libsndfile takes the size of exactly a position a channel.
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map,
                   static_cast<int>(channels * sizeof map[0])) == SF_TRUE) {
        for (unsigned i = 0; i < channels; ++i)
            layout[i] = speaker_of(map[i]);
        if (std::find(layout.begin(), layout.begin() + channels, speaker::none) ==
            layout.begin() + channels)
            return layout;
    }
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) {
        std::copy_n(vorbis_orders[channels - 1], channels, layout.begin());
        return layout;
    }
    if (channels == 1)
        return {speaker::mono};
    return layout_of_mask(0x3FFFF, channels);
}

class sndfile_decoder : public decoder {
  public:
    sndfile_decoder(SNDFILE *file, sample_format format) : file_(file), format_(format) {}
    ~sndfile_decoder() override { sf_close(file_); }

    std::size_t read(void *frames, std::size_t count) override {
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
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }

    bool seek(std::int64_t frame) override { return sf_seek(file_, frame, SEEK_SET) >= 0; }

  private:
    SNDFILE *file_;
    sample_format format_;
};

} // namespace

std::unique_ptr<decoder> open_sndfile(int fd, stream_info &info, const char *&reason) {
    SF_INFO header{};
    SNDFILE *file =
        ::lseek(fd, 0, SEEK_SET) == 0 ? sf_open_fd(fd, SFM_READ, &header, SF_FALSE) : nullptr;
    if (!file) {
        reason = "not a sound file the player can read";
        return nullptr;
    }
    if (!playable(header.format)) {
        sf_close(file);
        reason = "not a kind of sound file the player plays";
        return nullptr;
    }
    info.format = format_for(header.format & SF_FORMAT_SUBMASK);
    info.channels = static_cast<unsigned>(std::max(header.channels, 0));
    info.rate = static_cast<unsigned>(std::max(header.samplerate, 0));
    // A cut-off Ogg stream has no last page to tell its length by: libsndfile reports the most
    // frames there can be, which the length check refuses.
    info.frames = header.frames;
    if (info.channels > 0)
        info.layout = layout_of(file, header.format, info.channels);
    return std::make_unique<sndfile_decoder>(file, info.format);
}

} // namespace plat::audio
