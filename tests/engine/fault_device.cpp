// A failing sound device for a test build of the player (kestrova_faulty).
// The engine's ALSA calls are wrapped at link time and fail as KESTROVA_FAULT says, e.g.
// "open:EBUSY" or "writei:ENODEV:3" (from the third write on).
#include <alsa/asoundlib.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct fault_plan {
    std::string call; // "open" or "writei"
    int error = 0;
    int from = 1;
};

int error_named(const std::string &name) {
    if (name == "EBUSY")
        return EBUSY;
    if (name == "ENOENT")
        return ENOENT;
    if (name == "ENODEV")
        return ENODEV;
    if (name == "EIO")
        return EIO;
    return 0;
}

// Read once, before the playback thread first calls in: the engine opens the PCM on that thread,
// so the plan is made on the main thread from a static initializer.
const fault_plan plan = [] {
    fault_plan p;
    const char *text = std::getenv("KESTROVA_FAULT");
    if (!text)
        return p;
    const std::string wanted = text; // CALL:ERROR:FROM, e.g. "writei:ENODEV:3"
    const std::size_t first = wanted.find(':');
    const std::size_t second = wanted.find(':', first + 1);
    p.call = wanted.substr(0, first);
    if (first != std::string::npos)
        p.error = error_named(wanted.substr(first + 1, second - first - 1));
    if (second != std::string::npos)
        p.from = std::atoi(wanted.c_str() + second + 1);
    return p;
}();

std::atomic<int> writes{0};

} // namespace

extern "C" {
int __real_snd_pcm_open(snd_pcm_t **, const char *, snd_pcm_stream_t, int);
snd_pcm_sframes_t __real_snd_pcm_writei(snd_pcm_t *, const void *, snd_pcm_uframes_t);

int __wrap_snd_pcm_open(snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream, int mode) {
    if (plan.call == "open" && plan.error)
        return -plan.error;
    return __real_snd_pcm_open(pcm, name, stream, mode);
}

// Once the device is gone, it stays gone, for this track and every later one.
snd_pcm_sframes_t __wrap_snd_pcm_writei(snd_pcm_t *pcm, const void *data, snd_pcm_uframes_t n) {
    if (plan.call == "writei" && plan.error && ++writes >= plan.from)
        return -plan.error;
    return __real_snd_pcm_writei(pcm, data, n);
}
}
