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
bytes write_sound(const std::string &path, int sf_format, int channels, int rate, long frames);
void write_bytes(const std::string &path, const std::string &content);
bytes read_bytes(const std::string &path);

// Makes ALSA's file PCM the output device: raw samples written to file, no sound card needed.
void capture_to(const std::string &file);

} // namespace support
