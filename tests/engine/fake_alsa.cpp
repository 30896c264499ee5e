// The wrapped ALSA calls of the engine's fault tests, answered by the fake device.
#include "fake_alsa.h"

namespace fault {

fake_device *device;
std::atomic<int> polls{0};

} // namespace fault

using fault::device;
using fault::fake_device;
using fault::polls;

extern "C" {
snd_pcm_sframes_t __real_snd_pcm_writei(snd_pcm_t *, const void *, snd_pcm_uframes_t);
int __real_snd_pcm_drop(snd_pcm_t *);
int __real_snd_pcm_prepare(snd_pcm_t *);
snd_pcm_sframes_t __real_snd_pcm_avail_update(snd_pcm_t *);
int __real_poll(pollfd *, nfds_t, int);
int __real_snd_pcm_open(snd_pcm_t **, const char *, snd_pcm_stream_t, int);
int __real_snd_pcm_close(snd_pcm_t *);

int __wrap_snd_pcm_open(snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream, int mode) {
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        ++device->opens;
    }
    device->hold_if_blocked(fake_device::open);
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->opens > 1 && device->open_refusals > 0 && device->open_refusals--)
        return -ECONNREFUSED;
    device->reopened = std::chrono::steady_clock::now();
    return __real_snd_pcm_open(pcm, name, stream, mode);
}

int __real_sf_close(SNDFILE *);

int __wrap_sf_close(SNDFILE *file) {
    const int closed = __real_sf_close(file);
    std::lock_guard<std::mutex> lock(device->mutex);
    ++device->files_closed;
    device->changed.notify_all();
    return closed;
}

int __wrap_snd_pcm_close(snd_pcm_t *pcm) {
    device->hold_if_blocked(fake_device::close);
    const int closed = __real_snd_pcm_close(pcm);
    std::lock_guard<std::mutex> lock(device->mutex);
    ++device->closes;
    device->changed.notify_all();
    return closed;
}

int __wrap_poll(pollfd *fds, nfds_t count, int ms) {
    ++polls;
    return __real_poll(fds, count, ms);
}

snd_pcm_sframes_t __wrap_snd_pcm_avail_update(snd_pcm_t *pcm) {
    std::lock_guard<std::mutex> lock(device->mutex);
    snd_pcm_uframes_t period;
    return device->clocked ? device->room(pcm, period) : __real_snd_pcm_avail_update(pcm);
}

snd_pcm_sframes_t __wrap_snd_pcm_writei(snd_pcm_t *pcm, const void *data, snd_pcm_uframes_t n) {
    fake_device &d = *device;
    std::lock_guard<std::mutex> lock(d.mutex);
    const int call = ++d.writes;
    d.changed.notify_all();
    d.wrote_while_paused |= d.hw_paused;
    if (d.broken || d.takes_nothing)
        return d.takes_nothing ? 0 : d.broken;
    const bool again = d.every && call > d.fail_at && (call - d.fail_at) % d.every == 0;
    if (d.fail_at && (call == d.fail_at || again)) {
        if (d.fault == -EPIPE || d.fault == -ESTRPIPE)
            d.broken = d.fault;
        return d.fault;
    }
    if (d.credit == 0 && ++d.refused)
        return -EAGAIN;
    n = std::min<snd_pcm_uframes_t>(n, d.credit > 0 ? d.credit : n);
    n = std::min<snd_pcm_uframes_t>(n, d.piece > 0 ? 1 + call % d.piece : n);
    const snd_pcm_sframes_t done = __real_snd_pcm_writei(pcm, data, n);
    if (done > 0) {
        const auto *b = static_cast<const unsigned char *>(data);
        if (d.heard.empty())
            d.started = std::chrono::steady_clock::now();
        d.heard.insert(d.heard.end(), b, b + snd_pcm_frames_to_bytes(pcm, done));
        d.unplayed = std::min(d.unplayed + done, d.unplayed_cap);
        if (d.credit > 0 && (d.credit -= done) == 0 && !d.wait_fault)
            d.ready(false);
    }
    return done;
}

int __wrap_snd_pcm_poll_descriptors_count(snd_pcm_t *) {
    return 1;
}

int __wrap_snd_pcm_poll_descriptors(snd_pcm_t *, struct pollfd *fds, unsigned) {
    fds[0] = pollfd{device->fd, POLLIN, 0};
    return 1;
}

int __wrap_snd_pcm_poll_descriptors_revents(snd_pcm_t *pcm, struct pollfd *fds, unsigned count,
                                            unsigned short *revents) {
    std::lock_guard<std::mutex> lock(device->mutex);
    snd_pcm_uframes_t period = 0;
    const bool room = !device->clocked || device->room(pcm, period) >= long(period);
    *revents = (count == 1 && (fds[0].revents & POLLIN) && room) ? POLLOUT : 0;
    return device->wait_fault;
}

// A prepare, like a drop, loses what the device had not played yet.
int __wrap_snd_pcm_prepare(snd_pcm_t *pcm) {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->broken = 0;
    device->lose_unplayed();
    return __real_snd_pcm_prepare(pcm);
}

int __wrap_snd_pcm_resume(snd_pcm_t *) {
    std::lock_guard<std::mutex> lock(device->mutex);
    ++device->resumes;
    device->changed.notify_all();
    if (device->resume_busy > 0 && device->resume_busy-- > 0)
        return -EAGAIN;
    device->broken = 0;
    return 0;
}

int __wrap_snd_pcm_hw_params_can_pause(const snd_pcm_hw_params_t *) {
    return device->can_pause;
}

int __wrap_snd_pcm_pause(snd_pcm_t *, int enable) {
    std::lock_guard<std::mutex> lock(device->mutex);
    device->pauses += enable;
    device->hw_paused = enable;
    device->changed.notify_all();
    return 0;
}

int __wrap_snd_pcm_delay(snd_pcm_t *, snd_pcm_sframes_t *delay) {
    std::lock_guard<std::mutex> lock(device->mutex);
    *delay = device->unplayed;
    ++device->delays;
    device->changed.notify_all();
    return 0;
}

int __wrap_snd_pcm_drop(snd_pcm_t *pcm) {
    device->hold_if_blocked(fake_device::drop);
    std::lock_guard<std::mutex> lock(device->mutex);
    device->lose_unplayed();
    ++device->drops;
    device->changed.notify_all();
    return __real_snd_pcm_drop(pcm);
}
}
