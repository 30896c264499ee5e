// A file's channels moved to where a PCM that takes no channel map expects them.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "platform/posix/pcm_format.h"

namespace plat::audio {

// A PCM that cannot be told where each channel goes assumes ALSA's standard order for the count:
// front pair, rear pair, centre, LFE, side pair. A file of more than two channels is played in
// the smallest of those orders that has a place for each of its channels, silent where the file
// has no channel; a side pair takes the rear's places where the order has no sides, and a rear
// centre is heard from both rear speakers. Mono and stereo, and layouts that do not fit, stay as
// they are.
class channel_route {
  public:
    void plan(const channel_layout &layout, unsigned channels);
    // The same into the order of count channels that a PCM holds to; false, and nothing planned,
    // where a channel finds no place in it.
    bool plan_into(const channel_layout &layout, unsigned channels, const channel_layout &order,
                   unsigned count);

    bool moves() const { return moves_; }
    unsigned out_channels() const { return out_; }

    // Writes count frames of in, each sample sample_bytes wide, in the output's order to out.
    void apply(const void *in, std::size_t count, std::size_t sample_bytes,
               std::vector<unsigned char> &out) const;

  private:
    bool moves_ = false;
    unsigned in_ = 0;
    unsigned out_ = 0;
    // For each output channel, the file's channel it plays, or -1 for silence.
    std::array<int, most_placed> from_{};
};

} // namespace plat::audio
