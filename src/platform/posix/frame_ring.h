// The last frames written to a device that cannot pause, kept so that a pause loses none of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace plat::audio {

// A pause drops such a device, and on resume the frames it had not played yet are written again
// from here: nothing is lost or heard twice.
class frame_ring {
  public:
    // Room for frames frames of frame_bytes each; none keeps nothing.
    void reset(std::size_t frames, std::size_t frame_bytes) {
        bytes_.assign(frames * frame_bytes, 0);
        frame_bytes_ = frame_bytes;
        next_ = kept_ = 0;
    }

    std::size_t kept() const { return kept_; }

    void keep(const unsigned char *frames, std::size_t count) {
        const std::size_t ring = size();
        if (ring == 0)
            return;
        if (count > ring) {
            frames += (count - ring) * frame_bytes_;
            count = ring;
        }
        const std::size_t head = std::min(count, ring - next_);
        std::copy_n(frames, head * frame_bytes_, &bytes_[next_ * frame_bytes_]);
        std::copy_n(frames + head * frame_bytes_, (count - head) * frame_bytes_, bytes_.begin());
        next_ = (next_ + count) % ring;
        kept_ = std::min(ring, kept_ + count);
    }

    // Takes out the last count frames kept, oldest first: writing them keeps them again.
    std::vector<unsigned char> take_last(std::size_t count) {
        const std::size_t ring = size();
        const std::size_t first = (next_ + ring - count) % ring;
        std::vector<unsigned char> last(count * frame_bytes_);
        const std::size_t head = std::min(count, ring - first);
        std::copy_n(&bytes_[first * frame_bytes_], head * frame_bytes_, last.begin());
        std::copy_n(bytes_.begin(), (count - head) * frame_bytes_,
                    last.begin() + static_cast<std::ptrdiff_t>(head * frame_bytes_));
        next_ = first;
        kept_ -= count;
        return last;
    }

  private:
    std::size_t size() const { return frame_bytes_ ? bytes_.size() / frame_bytes_ : 0; }

    std::vector<unsigned char> bytes_;
    std::size_t frame_bytes_ = 0;
    std::size_t next_ = 0;
    std::size_t kept_ = 0;
};

} // namespace plat::audio
