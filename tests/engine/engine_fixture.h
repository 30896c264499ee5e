// Helpers for the engine tests: sound files made on the spot, MCI calls, and captured output.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace engine_test {

using bytes = std::vector<unsigned char>;

// A folder of its own for each test, removed afterwards.
struct temp_dir {
    std::string path;
    temp_dir() {
        char name[] = "/tmp/kestrova-engine-XXXXXX";
        if (!mkdtemp(name))
            throw std::runtime_error("no temporary folder");
        path = name;
    }
    ~temp_dir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

template <typename T> void append(bytes &out, const std::vector<T> &samples) {
    const auto *raw = reinterpret_cast<const unsigned char *>(samples.data());
    out.insert(out.end(), raw, raw + samples.size() * sizeof(T));
}

inline void write_frames(SNDFILE *f, const std::vector<short> &s, sf_count_t n) {
    sf_writef_short(f, s.data(), n);
}
inline void write_frames(SNDFILE *f, const std::vector<int> &s, sf_count_t n) {
    sf_writef_int(f, s.data(), n);
}
inline void write_frames(SNDFILE *f, const std::vector<float> &s, sf_count_t n) {
    sf_writef_float(f, s.data(), n);
}
inline void write_frames(SNDFILE *f, const std::vector<double> &s, sf_count_t n) {
    sf_writef_double(f, s.data(), n);
}

// Writes frames of noise that the file's sample type holds exactly, and returns the bytes
// that must reach ALSA for it: 8 and 16 bits as S16, 24 and 32 bits as S32, floats as they are.
inline bytes write_sound(const std::string &path, int format, int channels, int rate,
                         sf_count_t frames) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return {};
    std::uint32_t seed = 2024;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const auto n = static_cast<std::size_t>(frames * channels);
    bytes expected;
    auto emit = [&](auto samples) {
        write_frames(f, samples, frames);
        append(expected, samples);
    };
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16: {
        const int mask = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8 ? 0xFF00 : 0xFFFF;
        std::vector<short> s(n);
        for (auto &v : s)
            v = static_cast<short>((next() >> 16) & mask);
        emit(s);
        break;
    }
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: {
        const auto mask = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 0xFFFFFF00u : ~0u;
        std::vector<int> s(n);
        for (auto &v : s)
            v = static_cast<int>(next() & mask);
        emit(s);
        break;
    }
    case SF_FORMAT_DOUBLE: {
        std::vector<double> s(n);
        for (auto &v : s)
            v = (next() >> 8) / 8388608.0 - 1.0;
        emit(s);
        break;
    }
    default: {
        std::vector<float> s(n);
        for (std::size_t i = 0; i < n; ++i)
            s[i] = static_cast<float>((next() >> 8) / 8388608.0 - 1.0) / (1 + i % 7);
        emit(s);
        break;
    }
    }
    sf_close(f);
    return expected;
}

inline bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string &path, const bytes &content) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

// ALSA's file PCM over its null PCM: a sound card that writes what it is given to a file.
inline void capture_to(const std::string &file) {
    setenv("AUDIODEV", ("file:'" + file + "',raw").c_str(), 1);
}

// What reached the device is the track followed by nothing but the silence that plays it out.
inline ::testing::AssertionResult played(const bytes &captured, const bytes &track) {
    if (captured.size() < track.size())
        return ::testing::AssertionFailure()
               << captured.size() << " bytes captured, " << track.size() << " expected";
    if (!std::equal(track.begin(), track.end(), captured.begin()))
        return ::testing::AssertionFailure() << "captured samples differ from the file's";
    for (std::size_t i = track.size(); i < captured.size(); ++i)
        if (captured[i] != 0)
            return ::testing::AssertionFailure() << "a nonzero byte follows the track at " << i;
    return ::testing::AssertionSuccess();
}

inline mci::error open_file(const char *type, const std::string &path, mci::device_id &id) {
    mci::open_parms parms{};
    parms.wDeviceID = 77;
    parms.lpstrDeviceType = type;
    parms.lpstrElementName = path.c_str();
    const mci::error result = plat::mci_send(0, mci::open, mci::open_type | mci::open_element,
                                             reinterpret_cast<mci::dword_ptr>(&parms));
    id = parms.wDeviceID;
    return result;
}

inline mci::error play(mci::device_id id, mci::dword_ptr extra = 0) {
    mci::play_parms parms{};
    parms.dwCallback = 0x1234;
    return plat::mci_send(id, mci::play, mci::notify | mci::from | extra,
                          reinterpret_cast<mci::dword_ptr>(&parms));
}

inline std::uint64_t length_ms(mci::device_id id) {
    mci::status_parms parms{};
    parms.dwReturn = 0xDEAD;
    parms.dwItem = mci::status_length;
    if (plat::mci_send(id, mci::status, mci::status_item,
                       reinterpret_cast<mci::dword_ptr>(&parms)) != 0)
        return ~std::uint64_t{0};
    return parms.dwReturn;
}

inline mci::error close_device(mci::device_id id) {
    return plat::mci_send(id, mci::close, 0, 0);
}

// Catches whatever reaches standard output and standard error, from any library.
class output_catcher {
  public:
    explicit output_catcher(const std::string &file) : file_(file) {
        std::fflush(nullptr);
        saved_out_ = dup(1);
        saved_err_ = dup(2);
        std::FILE *sink = std::fopen(file.c_str(), "w");
        dup2(fileno(sink), 1);
        dup2(fileno(sink), 2);
        std::fclose(sink);
    }
    std::string text() {
        std::fflush(nullptr);
        dup2(saved_out_, 1);
        dup2(saved_err_, 2);
        close(saved_out_);
        close(saved_err_);
        const bytes b = read_bytes(file_);
        return std::string(b.begin(), b.end());
    }

  private:
    std::string file_;
    int saved_out_;
    int saved_err_;
};

} // namespace engine_test
