// The playback device over MCI: picks the device type by extension, opens, plays, times and closes.
#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "common/controls.h"
#include "device/device.h"

namespace {

// The one device that is open; 0 while none is.
mci::device_id current_device = 0;

constexpr int family_mpeg = 0;
constexpr int family_wave = 1;

// The accepted extensions, compared exactly, in this order.
struct extension {
    const char *ext;
    int family;
    int upper;
};
constexpr extension extensions[] = {
    {"mp3", family_mpeg, 0},
    {"MP3", family_mpeg, 1},
    {"wav", family_wave, 0},
    {"WAV", family_wave, 1},
};

const char *const device_types[] = {"MPEGVideo", "waveaudio"};
const char *const extension_letters[2][2] = {{"mp3", "MP3"}, {"wav", "WAV"}};

// The scan finds names in any letter case; without -a the device takes only the extensions above,
// which a name such as Song.Wav then meets. Without -a the scan lists no MP3, so the words name
// only what a listed name can be.
const char *const refused_without_all = "without -a, only .wav and .WAV play";

// A track that does not play would otherwise pass in a second of silence, as if it had: it is
// named, with the reason, on a line of its own on standard error.
void say_cannot_play(const char *name, const char *reason) {
    char shown[256];
    const std::size_t length = ::strnlen(name, sizeof shown - 1);
    mask_controls(name, length, shown);
    shown[length] = '\0';
    char line[1024];
    std::snprintf(line, sizeof line, "kestrova: cannot play \"%s\": %s", shown, reason);
    plat::notice(line);
}

// Opens the file on a device of the type and starts it playing from `from`.
void open_on(const char *file_name, const char *file_shurui, plat::window notice,
             std::uint32_t from) {
    mci::open_parms OpenParms{};
    OpenParms.lpstrDeviceType = file_shurui;
    OpenParms.lpstrElementName = file_name;
    mci::play_parms PlayParms{};
    PlayParms.dwCallback = reinterpret_cast<mci::dword_ptr>(notice);
    PlayParms.dwFrom = from;

    // A failed open hands back no identifier: nothing is played, and the device stays 0.
    const mci::error error =
        plat::mci_send(current_device, mci::open, mci::open_type | mci::open_element,
                       reinterpret_cast<mci::dword_ptr>(&OpenParms));
    if (error != 0) {
        char reason[512];
        if (!plat::mci_error_text(error, reason, sizeof reason))
            std::snprintf(reason, sizeof reason, "MCI error %u", static_cast<unsigned>(error));
        say_cannot_play(file_name, reason);
        return;
    }
    current_device = OpenParms.wDeviceID;
    plat::mci_send(current_device, mci::play, mci::notify | mci::from,
                   reinterpret_cast<mci::dword_ptr>(&PlayParms));
}

} // namespace

mci::device_id current_device_id() {
    return current_device;
}

plat::window get_console_window() {
    char oldtitle[1024];
    char newtitle[1024];
    // Without the title there is nothing to restore afterwards, so nothing is set.
    if (plat::console_title_get(oldtitle, sizeof oldtitle) == 0)
        return nullptr;
    std::uint32_t pid = plat::current_process_id();
    std::uint32_t tick = plat::tick_count();
    std::snprintf(newtitle, sizeof newtitle, "%d/%d", static_cast<int>(tick),
                  static_cast<int>(pid));
    plat::console_title_set(newtitle);
    plat::window found = plat::find_window(newtitle);
    plat::console_title_set(oldtitle);
    return found;
}

int play_file(const char *name, plat::window notice, std::uint32_t from, bool all) {
    const char *last_dot = std::strrchr(name, '.');
    const std::size_t ext_len = last_dot ? std::strlen(last_dot + 1) : 0;
    if (all && last_dot) {
        // The name goes to the device as it stands: extensions are not all three letters long.
        for (const playable_format &f : playable_formats) {
            if (ascii::same_text(last_dot + 1, f.extension)) {
                open_on(name, f.device_type, notice, from);
                return 0;
            }
        }
    }
    char dot[32];
    if (!all && last_dot && ext_len < sizeof dot) {
        std::memcpy(dot, last_dot + 1, ext_len + 1);
        for (const extension &e : extensions) {
            if (std::strcmp(dot, e.ext) == 0) {
                const int j[2] = {e.family, e.upper};
                return open_and_play(name, static_cast<int>(last_dot - name), notice, j, from);
            }
        }
    }
    say_cannot_play(name, all ? "not a format kestrova plays" : refused_without_all);
    return 1;
}

int open_and_play(const char *name, int dot_position, plat::window notice, const int j[2],
                  std::uint32_t from) {
    char file_name[256];
    char file_shurui[32];
    // Room for the '.', three letters and the zero; every scanned name fits.
    if (dot_position < 0 || dot_position > static_cast<int>(sizeof file_name) - 5)
        return 0;
    std::memcpy(file_name, name, static_cast<std::size_t>(dot_position) + 1);
    std::memcpy(file_name + dot_position + 1, extension_letters[j[0]][j[1]], 4);
    std::strcpy(file_shurui, device_types[j[0]]);
    open_on(file_name, file_shurui, notice, from);
    return 0;
}

void close_device() {
    plat::mci_send(current_device, mci::close, 0, 0);
    current_device = 0;
}

void pause_device() {
    plat::mci_send(current_device, mci::pause, 0, 0);
}

void resume_device() {
    plat::mci_send(current_device, mci::resume, 0, 0);
}

std::int32_t track_length() {
    mci::status_parms status{};
    status.dwItem = mci::status_length;
    plat::mci_send(current_device, mci::status, mci::status_item,
                   reinterpret_cast<mci::dword_ptr>(&status));
    // The length is a DWORD of milliseconds; a failed query leaves 0.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(status.dwReturn) / 1000u);
}
