// A sound file opened for playback: what a device type may play, decoded for the output.
#pragma once

#include <sndfile.h>

struct mpg123_handle_struct;

#include <cstddef>
#include <cstdint>

#include "platform/mci.h"
#include "platform/posix/alsa_output.h"

namespace plat::audio {

// What a device type plays: "waveaudio" only RIFF wave files; "MPEGVideo" every kind the player
// reads: wave, MPEG audio, FLAC, Ogg Vorbis and Ogg Opus.
enum class file_kinds { wave, any };

class sound_file {
  public:
    sound_file() = default;
    sound_file(const sound_file &) = delete;
    sound_file &operator=(const sound_file &) = delete;
    ~sound_file();

    // Opens the file at path if it is one of kinds; 0 or an MCI error code. Prints nothing.
    mci::error open(const char *path, file_kinds kinds);
    // Why the open failed, in words for the user.
    const char *reason() const { return reason_; }

    sample_format format() const { return format_; }
    unsigned channels() const { return channels_; }
    unsigned rate() const { return rate_; }
    std::size_t frame_bytes() const { return sample_bytes(format_) * channels_; }
    // Whole milliseconds, rounded down.
    std::uint32_t length_ms() const { return length_ms_; }

    // Moves to the frame at ms milliseconds, or to the end when that lies beyond it.
    bool seek_ms(std::uint32_t ms);
    // Moves to a frame, clamped to the file; a codec that cannot seek is read forward to it.
    bool seek_frame(std::int64_t frame);
    // The frame the next read decodes, and how many the file holds.
    std::int64_t position() const { return position_; }
    std::int64_t frames() const { return frames_; }
    // Decodes up to count frames into frames; 0 at the end or when decoding fails.
    std::size_t read(void *frames, std::size_t count);

  private:
    mci::error refuse(mci::error error, const char *reason);
    mci::error open_sndfile(int kind);
    mci::error open_mpeg();

    // One of the two decoders: libsndfile's or libmpg123's.
    SNDFILE *file_ = nullptr;
    mpg123_handle_struct *mpeg_ = nullptr;
    char reason_[128] = "";
    int fd_ = -1;
    sample_format format_ = sample_format::s16;
    unsigned channels_ = 0;
    unsigned rate_ = 0;
    std::int64_t frames_ = 0;
    // The frame the next read decodes, kept here since some codecs cannot tell or seek at all.
    std::int64_t position_ = 0;
    std::uint32_t length_ms_ = 0;
};

} // namespace plat::audio
