// A sound file opened for playback: what a device type may play, decoded for the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/mci.h"
#include "platform/posix/decoder.h"

namespace plat::audio {

// What a device type plays: "waveaudio" only RIFF wave files; "MPEGVideo" every kind the player
// reads: wave, AIFF, MPEG audio, FLAC, Ogg Vorbis and Opus, and what the FFmpeg module reads.
enum class file_kinds { wave, any };

class sound_file {
  public:
    sound_file() = default;
    sound_file(const sound_file &) = delete;
    sound_file &operator=(const sound_file &) = delete;
    ~sound_file();

    // Opens the file at path if it is one of kinds, with the decoder that its first bytes call
    // for; 0 or an MCI error code. Prints nothing.
    mci::error open(const char *path, file_kinds kinds);
    // Why the open failed, in words for the user.
    const char *reason() const { return reason_; }

    sample_format format() const { return info_.format; }
    unsigned channels() const { return info_.channels; }
    unsigned rate() const { return info_.rate; }
    const channel_layout &layout() const { return info_.layout; }
    std::size_t frame_bytes() const { return sample_bytes(info_.format) * info_.channels; }
    // Whole milliseconds, rounded down.
    std::uint32_t length_ms() const { return length_ms_; }

    // Moves to the frame at ms milliseconds, or to the end when that lies beyond it.
    bool seek_ms(std::uint32_t ms);
    // Moves to a frame, clamped to the file; a codec that cannot seek is read forward to it.
    bool seek_frame(std::int64_t frame);
    // The frame the next read decodes, and how many the file holds.
    std::int64_t position() const { return position_; }
    std::int64_t frames() const { return info_.frames; }
    // Decodes up to count frames into frames; 0 at the end or when decoding fails.
    std::size_t read(void *frames, std::size_t count);

  private:
    mci::error refuse(mci::error error, const char *reason);

    std::unique_ptr<decoder> decoder_;
    stream_info info_;
    char reason_[128] = "";
    int fd_ = -1;
    // The frame the next read decodes, kept here since some codecs cannot tell or seek at all.
    std::int64_t position_ = 0;
    std::uint32_t length_ms_ = 0;
};

} // namespace plat::audio
