// How a stream is set up on an ALSA PCM: what the PCM is given, and how the thread feeds it.
#pragma once

#include "platform/posix/channel_route.h"
#include "platform/posix/pcm_format.h"

struct _snd_pcm;

namespace plat::audio {

// Two seconds of buffer, what a sound server gives a stream that asks for nothing: the thread wakes
// once a period to refill it, and a sound server's client thread in our process at much the same
// pace; a busy machine has a second to schedule them before the sound breaks up, and a pause or a
// close still silences at once.
constexpr unsigned latency_us = 2000000;

struct stream_setup {
    // What the PCM is given: the file's format, or floats for doubles it does not take.
    sample_format played = sample_format::s16;
    // Where the PCM takes no channel map: the file's channels in the order that it assumes.
    channel_route route;
    // In frames; buffer and period are snd_pcm_uframes_t, which alsa-lib defines as unsigned long.
    unsigned long buffer = 0;
    unsigned long period = 0;
    bool can_pause = false;
};

// Sets an open PCM up for the stream, each channel bound for its speaker in layout; false when it
// takes the stream in no form.
bool set_up_stream(_snd_pcm *pcm, sample_format format, unsigned channels, unsigned rate,
                   const channel_layout &layout, stream_setup &setup);

} // namespace plat::audio
