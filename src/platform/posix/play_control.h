// Stop and pause requests that the MCI engine passes to a playback thread.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>

#include "platform/posix/hooks.h"

namespace plat::audio {

// Each request also writes to an eventfd, which the playback thread polls beside the PCM's own
// descriptors: it sleeps until the device wants data or a request comes, never on a timer.
class play_control {
  public:
    play_control() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (fd_ < 0)
            throw std::runtime_error("no eventfd");
        posix::watch_sound(fd_, true);
    }
    play_control(const play_control &) = delete;
    play_control &operator=(const play_control &) = delete;
    ~play_control() {
        posix::watch_sound(fd_, false);
        ::close(fd_);
    }

    void request_stop() {
        stop_ = true;
        wake();
    }

    void set_paused(bool paused) {
        {
            std::lock_guard<std::mutex> lock(clock_mutex_);
            if (paused && !paused_)
                paused_since_ = clock::now();
            else if (!paused && paused_)
                paused_for_ += clock::now() - paused_since_;
            paused_ = paused;
        }
        wake();
    }

    // Clears both requests and starts the track's clock; only while no thread is running.
    void reset() {
        stop_ = false;
        paused_ = false;
        clear();
        std::lock_guard<std::mutex> lock(clock_mutex_);
        started_ = clock::now();
        paused_for_ = clock::duration::zero();
        stopped_before_ = posix::stopped_ns();
    }

    // How long the track has played by the player's reckoning since the last reset: the time
    // since, less pauses and Ctrl-Z's stops. A device lost and opened again goes on from here,
    // so that the sound keeps step with the player's clock.
    std::chrono::nanoseconds played() const {
        std::lock_guard<std::mutex> lock(clock_mutex_);
        const clock::time_point now = clock::now();
        const clock::duration paused = paused_for_ + (paused_ ? now - paused_since_ : now - now);
        return std::chrono::duration_cast<std::chrono::nanoseconds>(now - started_ - paused) -
               std::chrono::nanoseconds(posix::stopped_ns() - stopped_before_);
    }

    bool stop_requested() const { return stop_; }
    // Paused by a request, or held while Ctrl-Z stops the process.
    bool paused() const { return paused_ || posix::sound_held(); }

    // Readable while a request is waiting to be looked at.
    int fd() const { return fd_; }
    // Called by the playback thread before it looks at the requests again.
    void clear() {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    }

  private:
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }

    using clock = std::chrono::steady_clock;

    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    int fd_;
    mutable std::mutex clock_mutex_;
    clock::time_point started_ = clock::now();
    clock::time_point paused_since_;
    clock::duration paused_for_{};
    std::int64_t stopped_before_ = posix::stopped_ns();
};

} // namespace plat::audio
