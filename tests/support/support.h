// What the tests, fuzz targets and benchmarks share: temporary folders and generated sound files.
#pragma once

#include <string>
#include <vector>

namespace support {

using bytes = std::vector<unsigned char>;

// A temporary folder, removed with everything in it.
class temp_folder {
  public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder &) = delete;
    temp_folder &operator=(const temp_folder &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Writes frames of noise that the file's sample type holds exactly (sf_format is libsndfile's)
// and returns the bytes that must reach ALSA for it: 8 and 16 bits as S16, 24 and 32 bits as S32,
// floats and doubles as they are, native byte order. Empty when libsndfile refuses the format.
// Speakers, when given, are the file's channel map (libsndfile's SF_CHANNEL_MAP_ values).
bytes write_sound(const std::string &path, int sf_format, int channels, int rate, long frames,
                  std::vector<int> speakers = {});
// How write_flac writes its stream: as the encoder writes a file, with no length in its header
// (as it writes to a pipe), from its first frame on (no header at all), or in Ogg.
enum class flac_stream { file, no_length, from_frame, ogg };
// Writes frames of noise in bits from 4 to 32 with libFLAC, the channels in FLAC's order, and
// returns what must reach ALSA for it: every bit at the top of S16 (up to 16 bits) or S32.
bytes write_flac(const std::string &path, unsigned bits, unsigned channels, unsigned rate,
                 unsigned frames, flac_stream how = flac_stream::file);
void write_bytes(const std::string &path, const std::string &content);
bytes read_bytes(const std::string &path);

// Makes ALSA's file PCM the output device: raw samples written to file, no sound card needed.
void capture_to(const std::string &file);

} // namespace support
