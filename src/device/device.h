// The playback device: one MCI device at a time, chosen by the file's extension.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// What -a plays: an extension, matched without regard to ASCII letter case, and the MCI device
// type that opens it. Wave audio has a device of its own; "MPEGVideo" is Windows' device for
// MPEG audio, which the Linux engine gives every other format it decodes.
struct playable_format {
    const char *extension;
    const char *device_type;
};
inline constexpr playable_format playable_formats[] = {
    {"wav", "waveaudio"},
    {"mp3", "MPEGVideo"},
#if !defined(_WIN32)
    {"mp2", "MPEGVideo"},
    {"mpga", "MPEGVideo"},
    {"flac", "MPEGVideo"},
    {"ogg", "MPEGVideo"},
    {"oga", "MPEGVideo"},
    {"opus", "MPEGVideo"},
    {"aif", "MPEGVideo"},
    {"aiff", "MPEGVideo"},
    // Through the FFmpeg module, when it is installed.
    {"m4a", "MPEGVideo"},
    {"m4b", "MPEGVideo"},
    {"aac", "MPEGVideo"},
    {"wma", "MPEGVideo"},
    {"wv", "MPEGVideo"},
    {"webm", "MPEGVideo"},
    {"mka", "MPEGVideo"},
    {"ape", "MPEGVideo"},
#endif
};

plat::window get_console_window();
// Opens and plays a track: without -a (all false) only the extensions wav, WAV, mp3 and MP3, as
// ever; with it, every playable format in any letter case. 1 when the file is refused unopened.
// A file refused, or one that MCI cannot open, is named on standard error with the reason.
int play_file(const char *name, plat::window notice, std::uint32_t from, bool all);
int open_and_play(const char *name, int dot_position, plat::window notice, const int j[2],
                  std::uint32_t from);
void close_device();
// Holds the open track where it is, and takes it up again from there (the word "pause").
void pause_device();
void resume_device();
std::int32_t track_length();
// The identifier of the open device, 0 when none is open.
mci::device_id current_device_id();
