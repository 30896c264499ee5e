// What decoded sound looks like between a decoder and the output: sample layouts and speakers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace plat::audio {

// The sample layouts the decoders hand over, each played as it is so that no sample changes on
// its way to the device; the device's plug layer converts where the hardware must.
enum class sample_format { s16, s32, f32, f64 };

inline std::size_t sample_bytes(sample_format format) {
    return format == sample_format::s16 ? 2 : format == sample_format::f64 ? 8 : 4;
}

// Where a channel is meant to be heard. Named as a wave file's channel mask names its bits, in
// the same order; a file that says nothing of its channels leaves them none.
enum class speaker : std::uint8_t {
    none,
    mono,
    front_left,
    front_right,
    front_centre,
    lfe,
    back_left,
    back_right,
    front_left_centre,
    front_right_centre,
    back_centre,
    side_left,
    side_right,
    top_centre,
    top_front_left,
    top_front_centre,
    top_front_right,
    top_back_left,
    top_back_centre,
    top_back_right,
};

// Speakers are told for up to eight channels, the most that any format here names by itself.
constexpr unsigned most_placed = 8;
using channel_layout = std::array<speaker, most_placed>;

// A wave file's channel mask, bit 0 the front left: the speakers of its lowest set bits, one a
// channel; none when the mask names fewer speakers than there are channels.
inline channel_layout layout_of_mask(std::uint32_t mask, unsigned channels) {
    channel_layout layout{};
    unsigned placed = 0;
    for (unsigned bit = 0; bit < 18 && placed < channels && placed < most_placed; ++bit) {
        if (mask & (1u << bit))
            layout[placed++] =
                static_cast<speaker>(static_cast<unsigned>(speaker::front_left) + bit);
    }
    return placed == channels ? layout : channel_layout{};
}

} // namespace plat::audio
