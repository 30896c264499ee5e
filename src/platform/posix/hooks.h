// What the parts of the Linux platform tell one another: the output, a notice, the stops.
#pragma once

#include <cstddef>
#include <cstdint>

namespace posix {

// Called with every byte written to standard output: the line editor keeps the line it is on, to
// draw it again, and the terminal knows whether the cursor is at the start of a line.
void note_output(const char *bytes, std::size_t count);

// Writes every byte, through interruptions and an output that someone else made non-blocking;
// on a closed pipe or a full disk, gives up silently, as there is no one to tell.
void write_all(int fd, const char *bytes, std::size_t count);

// A line for standard error from any thread, such as the playback thread's word that there will
// be no sound, which is said once a run, or that a track stopped short, said each time. Without a
// screen it is written at once; with one, the wake function that the terminal gave is called,
// and the line editor shows the line, which take_notice then hands over once, at its next look
// at the keyboard.
void notify(const char *line, bool once_a_run);
void show_notices_on_screen(void (*wake)());
bool take_notice(char *line, std::size_t size);

// Time spent stopped by Ctrl-Z, which the player's clock leaves out; the terminal adds to it.
void add_stopped_ns(std::int64_t ns);
std::int64_t stopped_ns();

// Ctrl-Z holds the sound as the player's clock is held. The terminal's stop handler calls
// hold_sound(true), which returns once every playing thread has silenced its device (or after a
// second, for one that cannot say so), and hold_sound(false) after the continue; both are safe
// in a signal handler. A playback thread counts itself in with sound_playing while its device is
// open, finds the hold through sound_held, and reports with sound_paused once its device is
// silent; each request wakes the eventfds that play controls keep in watch_sound.
void hold_sound(bool held);
bool sound_held();
void sound_playing(bool playing);
void sound_paused();
void watch_sound(int eventfd, bool watch);

// The way out stops every playback thread first, through the function that the MCI engine gave:
// it waits a second at most and tells whether a thread is still stuck in a sound device, in which
// case the libraries must not be torn down under it.
void stop_sound_with(bool (*stop_all)());
bool stop_all_sound();

} // namespace posix
