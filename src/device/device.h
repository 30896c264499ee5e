// The playback device: one MCI device at a time, chosen by the file's extension.
#pragma once

#include <cstdint>

#include "platform/platform.h"

plat::window get_console_window();
int play_file(const char *name, plat::window notice, std::uint32_t from);
int open_and_play(const char *name, int dot_position, plat::window notice, const int j[2],
                  std::uint32_t from);
void close_device();
void pause_device();
void resume_device();
std::int32_t track_length();
// The identifier of the open device, 0 when none is open.
mci::device_id current_device_id();
