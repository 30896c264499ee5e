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
    // count samples made by f, written with libsndfile's writer for their type, and kept as bytes.
    auto emit = [&](auto f, auto writer) {
        std::vector<decltype(f())> samples(count);
        for (auto &v : samples)
            v = f();
        writer(file, samples.data(), frames);
        const auto *raw = reinterpret_cast<const unsigned char *>(samples.data());
        expected.insert(expected.end(), raw, raw + count * sizeof samples[0]);
    };
    // Each sample type keeps only the bits the file can hold, so what is read back is exact.
    const int type = sf_format & SF_FORMAT_SUBMASK;
    if (type == SF_FORMAT_PCM_U8 || type == SF_FORMAT_PCM_S8 || type == SF_FORMAT_PCM_16) {
        const unsigned mask = type == SF_FORMAT_PCM_16 ? 0xFFFFu : 0xFF00u;
        emit([&] { return static_cast<short>((next() >> 16) & mask); }, sf_writef_short);
    } else if (type == SF_FORMAT_PCM_24 || type == SF_FORMAT_PCM_32) {
        const unsigned mask = type == SF_FORMAT_PCM_32 ? ~0u : 0xFFFFFF00u;
        emit([&] { return static_cast<int>(next() & mask); }, sf_writef_int);
    } else if (type == SF_FORMAT_DOUBLE) {
        emit([&] { return (next() >> 8) / 8388608.0 - 1.0; }, sf_writef_double);
    } else {
        emit([&] { return static_cast<float>((next() >> 8) / 8388608.0 - 1.0); }, sf_writef_float);
    }
    sf_close(file);
    return expected;
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
