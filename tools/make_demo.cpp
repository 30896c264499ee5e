// Writes the demo folder: a few short tones of different lengths, rates and channel counts.
#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

struct tone {
    const char *name; // UTF-8, as the folder will hold it
    double seconds;
    int rate;
    int channels;
    int format; // sample format within a WAV file
    // The sample at time t (seconds) for a channel, about -1 to 1 before the fades.
    double (*sound)(double t, int channel);
};

// Frequency of the note n semitones above A4.
double note(int n) {
    return 440.0 * std::pow(2.0, n / 12.0);
}

double chime(double t, int channel) {
    const double f = note(channel == 0 ? 3 : 7); // C5 left, E5 right
    return std::exp(-2.5 * t) * (std::sin(2 * pi * f * t) + 0.3 * std::sin(2 * pi * 2.76 * f * t));
}

double hum(double t, int) {
    const double f = 110.0 + 1.5 * std::sin(2 * pi * 5 * t);
    return 0.8 * std::sin(2 * pi * f * t) + 0.2 * std::sin(4 * pi * f * t);
}

// C major, up and down, each note a quarter second, moving from left to right.
double arpeggio(double t, int channel) {
    static const int steps[] = {3, 7, 10, 15, 10, 7};
    const int k = static_cast<int>(t / 0.25);
    const double in_note = t - k * 0.25;
    const double pan = std::fmod(t / 8.0, 1.0);
    const double gain = channel == 0 ? 1.0 - pan : pan;
    return gain * std::exp(-6 * in_note) * std::sin(2 * pi * note(steps[k % 6]) * t);
}

// A pentatonic phrase of our own, slow, for the name in Japanese letters.
double evening(double t, int) {
    static const int phrase[] = {-2, 0, 3, 0, -2, -5, -2, -2, 0, 3, 5, 3};
    const double length = 0.25;
    const int k = static_cast<int>(t / length);
    const double in_note = t - k * length;
    return std::exp(-3 * in_note) * std::sin(2 * pi * note(phrase[k % 12]) * t);
}

double sweep(double t, int) {
    // Rising from 200 Hz to 2 kHz over four seconds, logarithmically.
    const double rate = std::log(10.0) / 4.0;
    return std::sin(2 * pi * 200.0 * (std::exp(rate * t) - 1.0) / rate);
}

bool write_tone(const std::string &folder, const tone &t) {
    SF_INFO info{};
    info.samplerate = t.rate;
    info.channels = t.channels;
    info.format = SF_FORMAT_WAV | t.format;
    const std::string path = folder + "/" + t.name;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    const auto frames = static_cast<std::size_t>(t.seconds * t.rate);
    const double fade = 0.02 * t.rate; // no click at either end
    std::vector<float> samples(frames * static_cast<std::size_t>(t.channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double envelope = std::fmin(
            1.0, std::fmin(static_cast<double>(i), static_cast<double>(frames - i)) / fade);
        for (int c = 0; c < t.channels; ++c) {
            samples[i * static_cast<std::size_t>(t.channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(0.3 * envelope * t.sound(static_cast<double>(i) / t.rate, c));
        }
    }
    const bool complete = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frames)) ==
                          static_cast<sf_count_t>(frames);
    sf_close(file);
    return complete;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(folder.c_str());
        return 1;
    }
    const tone tones[] = {
        {"chime.wav", 2.0, 44100, 2, SF_FORMAT_PCM_16, chime},
        {"low hum.wav", 5.0, 22050, 1, SF_FORMAT_PCM_16, hum},
        {"arpeggio.wav", 8.0, 48000, 2, SF_FORMAT_PCM_24, arpeggio},
        {"ゆうやけ.wav", 3.0, 48000, 1, SF_FORMAT_PCM_16, evening},
        {"sweep.wav", 4.0, 22050, 1, SF_FORMAT_FLOAT, sweep},
    };
    for (const tone &t : tones) {
        if (!write_tone(folder, t)) {
            return 1;
        }
    }
    return 0;
}
