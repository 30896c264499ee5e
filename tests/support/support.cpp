// Temporary folders and generated sound files for the tests, fuzz targets and benchmarks.
#include "support.h"

#include <FLAC/stream_encoder.h>
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

bytes write_sound(const std::string &path, int sf_format, int channels, int rate, long frames,
                  std::vector<int> speakers) {
    SF_INFO info{};
    info.format = sf_format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return {};
    }
    if (!speakers.empty())
        sf_command(file, SFC_SET_CHANNEL_MAP_INFO, speakers.data(),
                   static_cast<int>(speakers.size() * sizeof(int)));
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

bytes write_flac(const std::string &path, unsigned bits, unsigned channels, unsigned rate,
                 unsigned frames, flac_stream how) {
    struct output {
        std::ofstream file;
        bool headers;
    } out{std::ofstream(path, std::ios::binary), how != flac_stream::from_frame};
    // The header is written before any frame, and never again: with no seek callback the
    // encoder cannot go back to it.
    auto write = [](const FLAC__StreamEncoder *, const FLAC__byte buffer[], std::size_t size,
                    std::uint32_t samples, std::uint32_t, void *data) {
        auto &o = *static_cast<output *>(data);
        if (samples > 0 || o.headers)
            o.file.write(reinterpret_cast<const char *>(buffer),
                         static_cast<std::streamsize>(size));
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    };
    FLAC__StreamEncoder *encoder = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(encoder, channels);
    FLAC__stream_encoder_set_bits_per_sample(encoder, bits);
    FLAC__stream_encoder_set_sample_rate(encoder, rate);
    FLAC__stream_encoder_set_streamable_subset(encoder, false);
    FLAC__stream_encoder_set_ogg_serial_number(encoder, 1);
    if (how == flac_stream::file || how == flac_stream::ogg)
        FLAC__stream_encoder_set_total_samples_estimate(encoder, frames);
    const FLAC__StreamEncoderInitStatus status =
        how == flac_stream::ogg
            ? FLAC__stream_encoder_init_ogg_stream(encoder, nullptr, write, nullptr, nullptr,
                                                   nullptr, &out)
            : FLAC__stream_encoder_init_stream(encoder, write, nullptr, nullptr, nullptr, &out);
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        throw std::runtime_error("libFLAC cannot write " + path);
    std::uint32_t seed = 2024;
    std::vector<FLAC__int32> samples(std::size_t{frames} * channels);
    bytes expected;
    const unsigned width = bits <= 16 ? 16 : 32;
    for (auto &v : samples) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<FLAC__int32>(seed) >> (32 - bits);
        const std::uint32_t shown = static_cast<std::uint32_t>(v) << (width - bits);
        for (unsigned byte = 0; byte < width / 8; ++byte)
            expected.push_back(static_cast<unsigned char>(shown >> (8 * byte)));
    }
    FLAC__stream_encoder_process_interleaved(encoder, samples.data(), frames);
    FLAC__stream_encoder_finish(encoder);
    FLAC__stream_encoder_delete(encoder);
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
