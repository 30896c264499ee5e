// Setting a stream up on an ALSA PCM: its format, rate and buffer, and where each channel goes.
#include "platform/posix/alsa_setup.h"

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdlib>
#include <iterator>

namespace plat::audio {
namespace {

snd_pcm_format_t alsa_format(sample_format format) {
    switch (format) {
    case sample_format::s16:
        return SND_PCM_FORMAT_S16;
    case sample_format::s32:
        return SND_PCM_FORMAT_S32;
    case sample_format::f32:
        return SND_PCM_FORMAT_FLOAT;
    case sample_format::f64:
        return SND_PCM_FORMAT_FLOAT64;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

// Sets the stream up in a buffer of about latency_us, of two periods where the device allows:
// the thread wakes when a period's room is free, twice a buffer.
bool configure(snd_pcm_t *pcm, snd_pcm_format_t format, unsigned channels, unsigned rate,
               snd_pcm_uframes_t &buffer, snd_pcm_uframes_t &period, bool &can_pause) {
    snd_pcm_hw_params_t *hw;
    snd_pcm_hw_params_alloca(&hw);
    unsigned buffer_us = latency_us;
    unsigned period_us = latency_us / 2;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 || snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, format) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, channels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0 ||
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, nullptr) < 0 ||
        snd_pcm_hw_params(pcm, hw) < 0 || snd_pcm_hw_params_get_buffer_size(hw, &buffer) < 0 ||
        snd_pcm_hw_params_get_period_size(hw, &period, nullptr) < 0)
        return false;
    can_pause = snd_pcm_hw_params_can_pause(hw) == 1;
    snd_pcm_sw_params_t *sw;
    snd_pcm_sw_params_alloca(&sw);
    // Play starts with the first period written, or when the end of a shorter track starts it;
    // the rest of the buffer is filled at once behind it.
    return snd_pcm_sw_params_current(pcm, sw) == 0 &&
           snd_pcm_sw_params_set_avail_min(pcm, sw, period) == 0 &&
           snd_pcm_sw_params_set_start_threshold(pcm, sw, period) == 0 &&
           snd_pcm_sw_params(pcm, sw) == 0;
}

// ALSA's name for each speaker, in the order of the speakers' enumeration.
constexpr unsigned alsa_positions[] = {
    SND_CHMAP_UNKNOWN, SND_CHMAP_MONO, SND_CHMAP_FL,  SND_CHMAP_FR,  SND_CHMAP_FC,
    SND_CHMAP_LFE,     SND_CHMAP_RL,   SND_CHMAP_RR,  SND_CHMAP_FLC, SND_CHMAP_FRC,
    SND_CHMAP_RC,      SND_CHMAP_SL,   SND_CHMAP_SR,  SND_CHMAP_TC,  SND_CHMAP_TFL,
    SND_CHMAP_TFC,     SND_CHMAP_TFR,  SND_CHMAP_TRL, SND_CHMAP_TRC, SND_CHMAP_TRR};
static_assert(std::size(alsa_positions) == static_cast<std::size_t>(speaker::top_back_right) + 1);

unsigned alsa_position(speaker where) {
    return alsa_positions[static_cast<std::size_t>(where)];
}

// Whether the PCM can be told where each channel goes: a card can. PipeWire's plugin takes a map
// and says it holds it, but has built its stream by then and plays the channels in ALSA's
// standard order all the same (measured with pipewire-alsa 0.3.65), as PulseAudio's, which takes
// no map, does.
bool takes_maps(snd_pcm_t *pcm) {
    if (snd_pcm_type(pcm) != SND_PCM_TYPE_HW)
        return false;
    snd_pcm_chmap_query_t **maps = snd_pcm_query_chmaps(pcm);
    if (!maps)
        return false;
    snd_pcm_free_chmaps(maps);
    return true;
}

// Where a PCM that is set up sends each of channels channels; none where it does not say.
channel_layout map_of(snd_pcm_t *pcm, unsigned channels) {
    channel_layout layout{};
    snd_pcm_chmap_t *map = snd_pcm_get_chmap(pcm);
    if (!map)
        return layout;
    if (map->channels == channels && channels <= most_placed) {
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned s = 0; s <= static_cast<unsigned>(speaker::top_back_right); ++s) {
                if (s != 0 && alsa_position(static_cast<speaker>(s)) == map->pos[c])
                    layout[c] = static_cast<speaker>(s);
            }
        }
    }
    std::free(map);
    return layout;
}

// Tells a card that is set up where each channel goes, where its map can be set.
void tell_map(snd_pcm_t *pcm, const channel_layout &layout, unsigned channels) {
    // The map is its channel count followed by a position for each.
    unsigned map[1 + most_placed] = {channels};
    for (unsigned c = 0; c < channels; ++c)
        map[1 + c] = alsa_position(layout[c]);
    snd_pcm_set_chmap(pcm, reinterpret_cast<const snd_pcm_chmap_t *>(map));
}

} // namespace

// The stream as the file has it where the PCM takes that, else doubles as floats, which a sound
// server may take where it takes no doubles. More than two channels go where the file means them:
// the PCM is told so where it can be, and elsewhere they are put in the order it assumes.
bool set_up_stream(snd_pcm_t *pcm, sample_format format, unsigned channels, unsigned rate,
                   const channel_layout &layout, stream_setup &setup) {
    const bool mappable = channels > 2 && channels <= most_placed &&
                          layout[channels - 1] != speaker::none && takes_maps(pcm);
    for (const sample_format played : {format, sample_format::f32}) {
        if (played != format && format != sample_format::f64)
            break;
        setup.played = played;
        setup.route.plan(layout, channels);
        // A card is told the file's map; where it holds to its own, the channels are put in
        // its order.
        if (mappable) {
            if (configure(pcm, alsa_format(played), channels, rate, setup.buffer, setup.period,
                          setup.can_pause)) {
                if (map_of(pcm, channels) != layout)
                    tell_map(pcm, layout, channels);
                const channel_layout held = map_of(pcm, channels);
                if (held == layout) {
                    setup.route.plan({}, channels);
                    return true;
                }
                if (held[channels - 1] != speaker::none &&
                    setup.route.plan_into(layout, channels, held, channels))
                    return true;
            }
            snd_pcm_hw_free(pcm);
            setup.route.plan(layout, channels);
        }
        if (configure(pcm, alsa_format(played), setup.route.out_channels(), rate, setup.buffer,
                      setup.period, setup.can_pause))
            return true;
        snd_pcm_hw_free(pcm);
    }
    return false;
}

} // namespace plat::audio
