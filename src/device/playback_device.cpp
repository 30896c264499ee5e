// The playback device over MCI: picks the device type by extension, opens, plays, times and closes.
#include <cstdio>
#include <cstring>

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

int play_file(const char *name, plat::window notice, std::uint32_t from) {
    const char *last_dot = std::strrchr(name, '.');
    if (!last_dot)
        return 1;
    int dot_position = static_cast<int>(last_dot - name);
    char dot[32];
    std::size_t ext_len = std::strlen(last_dot + 1);
    if (ext_len >= sizeof dot)
        return 1;
    std::memcpy(dot, last_dot + 1, ext_len + 1);
    for (const extension &e : extensions) {
        if (std::strcmp(dot, e.ext) == 0) {
            const int j[2] = {e.family, e.upper};
            return open_and_play(name, dot_position, notice, j, from);
        }
    }
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

    mci::open_parms OpenParms{};
    OpenParms.lpstrDeviceType = file_shurui;
    OpenParms.lpstrElementName = file_name;
    mci::play_parms PlayParms{};
    PlayParms.dwCallback = reinterpret_cast<mci::dword_ptr>(notice);
    PlayParms.dwFrom = from;

    // A failed open hands back no identifier: nothing is played, and the device stays 0.
    if (plat::mci_send(current_device, mci::open, mci::open_type | mci::open_element,
                       reinterpret_cast<mci::dword_ptr>(&OpenParms)) != 0)
        return 0;
    current_device = OpenParms.wDeviceID;
    plat::mci_send(current_device, mci::play, mci::notify | mci::from,
                   reinterpret_cast<mci::dword_ptr>(&PlayParms));
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
