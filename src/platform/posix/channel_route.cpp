// A file's channels moved to where a PCM that takes no channel map expects them.
#include "platform/posix/channel_route.h"

#include <algorithm>
#include <cstring>

namespace plat::audio {
namespace {

using s = speaker;

// ALSA's standard orders, which its PCMs and sound servers assume for four, six and eight
// channels.
constexpr std::array<speaker, most_placed> alsa_orders[] = {
    {s::front_left, s::front_right, s::back_left, s::back_right},
    {s::front_left, s::front_right, s::back_left, s::back_right, s::front_centre, s::lfe},
    {s::front_left, s::front_right, s::back_left, s::back_right, s::front_centre, s::lfe,
     s::side_left, s::side_right},
};
constexpr unsigned alsa_counts[] = {4, 6, 8};

// Where a channel goes when its own speaker is not in the order, or is taken.
struct stand_in {
    speaker from, to;
};
constexpr stand_in stand_ins[] = {
    {s::side_left, s::back_left},   {s::side_right, s::back_right}, {s::back_left, s::side_left},
    {s::back_right, s::side_right}, {s::back_centre, s::back_left}, {s::back_centre, s::back_right},
};

} // namespace

void channel_route::plan(const channel_layout &layout, unsigned channels) {
    moves_ = false;
    in_ = out_ = channels;
    if (channels <= 2 || channels > most_placed)
        return;
    for (std::size_t o = 0; o < std::size(alsa_orders); ++o) {
        if (alsa_counts[o] >= channels &&
            plan_into(layout, channels, alsa_orders[o], alsa_counts[o]))
            return;
    }
}

bool channel_route::plan_into(const channel_layout &layout, unsigned channels,
                              const channel_layout &order, unsigned count) {
    std::array<int, most_placed> from;
    from.fill(-1);
    std::array<bool, most_placed> placed{};
    auto place = [&](unsigned channel, speaker where) {
        for (unsigned slot = 0; slot < count; ++slot) {
            if (order[slot] == where && from[slot] < 0) {
                from[slot] = static_cast<int>(channel);
                placed[channel] = true;
                return;
            }
        }
    };
    // A channel's own speaker first, then stand-ins for what is left; a rear centre takes both
    // rear speakers where both are free.
    for (unsigned c = 0; c < channels; ++c)
        place(c, layout[c]);
    for (unsigned c = 0; c < channels; ++c) {
        for (const stand_in &in : stand_ins) {
            if (in.from == layout[c] && (!placed[c] || layout[c] == s::back_centre))
                place(c, in.to);
        }
    }
    if (std::count(placed.begin(), placed.begin() + channels, true) !=
        static_cast<std::ptrdiff_t>(channels))
        return false;
    from_ = from;
    in_ = channels;
    out_ = count;
    moves_ = count != channels;
    for (unsigned slot = 0; slot < count; ++slot)
        moves_ = moves_ || from_[slot] != static_cast<int>(slot);
    return true;
}

void channel_route::apply(const void *in, std::size_t count, std::size_t sample_bytes,
                          std::vector<unsigned char> &out) const {
    const auto *frames = static_cast<const unsigned char *>(in);
    out.assign(count * out_ * sample_bytes, 0);
    unsigned char *to = out.data();
    for (std::size_t f = 0; f < count; ++f, frames += in_ * sample_bytes) {
        for (unsigned slot = 0; slot < out_; ++slot, to += sample_bytes) {
            if (from_[slot] >= 0)
                std::memcpy(to, frames + static_cast<std::size_t>(from_[slot]) * sample_bytes,
                            sample_bytes);
        }
    }
}

} // namespace plat::audio
