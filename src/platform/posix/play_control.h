// Stop and pause requests that the MCI engine passes to a playback thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat::audio {

// One condition variable carries both requests, so that a thread napping or held in a
// pause wakes at once when the track is closed.
class play_control {
  public:
    void request_stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }

    void set_paused(bool paused) {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = paused;
        changed_.notify_all();
    }

    // Clears both requests; only while no thread is running.
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
        paused_ = false;
    }

    bool stop_requested() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stop_;
    }

    // Returns at once unless paused, else when resumed; false when a stop is requested.
    bool hold_while_paused() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || !paused_; });
        return !stop_;
    }

    // Sleeps for up to ms milliseconds; false when a stop is requested.
    bool nap(unsigned ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
        return !stop_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    bool paused_ = false;
};

} // namespace plat::audio
