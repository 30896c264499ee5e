// Temporary folders and generated sound files for the tests, fuzz targets and benchmarks.
#include "support.h"

#include <sndfile.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace support {

temp_folder::temp_folder() {
    char pattern[] = "/tmp/kestrova-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

temp_folder::~temp_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

template <typename T> void append(bytes &out, const std::vector<T> &samples) {
    const auto *raw = reinterpret_cast<const unsigned char *>(samples.data());
    out.insert(out.end(), raw, raw + samples.size() * sizeof(T));
}

void write_frames(SNDFILE *f, const std::vector<short> &s, long n) {
    sf_writef_short(f, s.data(), n);
}
void write_frames(SNDFILE *f, const std::vector<int> &s, long n) {
    sf_writef_int(f, s.data(), n);
}
void write_frames(SNDFILE *f, const std::vector<float> &s, long n) {
    sf_writef_float(f, s.data(), n);
}
void write_frames(SNDFILE *f, const std::vector<double> &s, long n) {
    sf_writef_double(f, s.data(), n);
}

} // namespace

bytes write_sound(const std::string &path, int sf_format, int channels, int rate, long frames) {
    SF_INFO info{};
    info.format = sf_format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return {};
    }
    std::uint32_t seed = 2024;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const auto count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    bytes expected;
    auto emit = [&](auto samples) {
        write_frames(file, samples, frames);
        append(expected, samples);
    };
    // Each sample type keeps only the bits the file can hold, so what is read back is exact.
    switch (sf_format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_16: {
        const bool eight = (sf_format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16;
        std::vector<short> s(count);
        for (auto &v : s) {
            v = static_cast<short>((next() >> 16) & (eight ? 0xFF00u : 0xFFFFu));
        }
        emit(s);
        break;
    }
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: {
        const bool wide = (sf_format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_32;
        std::vector<int> s(count);
        for (auto &v : s) {
            v = static_cast<int>(next() & (wide ? ~0u : 0xFFFFFF00u));
        }
        emit(s);
        break;
    }
    case SF_FORMAT_DOUBLE: {
        std::vector<double> s(count);
        for (auto &v : s) {
            v = (next() >> 8) / 8388608.0 - 1.0;
        }
        emit(s);
        break;
    }
    default: {
        std::vector<float> s(count);
        for (auto &v : s) {
            v = static_cast<float>((next() >> 8) / 8388608.0 - 1.0);
        }
        emit(s);
        break;
    }
    }
    sf_close(file);
    return expected;
}

void write_wav(const std::string &path, double seconds, int rate, int channels) {
    if (write_sound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, rate,
                    static_cast<long>(seconds * rate))
            .empty() &&
        seconds > 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

void write_bytes(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void capture_to(const std::string &file) {
    setenv("AUDIODEV", ("file:'" + file + "',raw").c_str(), 1);
}

} // namespace support
