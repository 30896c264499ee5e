// The track list: the folder's wave files, or with -a its playable files, scanned once, and the two
// outputs that show their names.
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "device/device.h"
#include "player/player.h"

const char end_mark[] = "else no";

namespace {

bool fits_entry(const plat::find_data &found) {
    return ::strnlen(found.cFileName, sizeof found.cFileName) < entry_size;
}

// The next name that fits an entry; names too long for one are passed over, never cut.
bool next_fitting(plat::find_handle search, plat::find_data *found) {
    while (plat::find_next(search, found)) {
        if (fits_entry(*found))
            return true;
    }
    return false;
}

} // namespace

void scan_tracks(track_list &filelist, bool all) {
    // With -a, one pattern for each playable format: "*.wav;*.mp3;...".
    char patterns[128] = "*.wav";
    if (all) {
        patterns[0] = '\0';
        for (const playable_format &f : playable_formats) {
            const std::size_t used = std::strlen(patterns);
            std::snprintf(patterns + used, sizeof patterns - used, "%s*.%s", used ? ";" : "",
                          f.extension);
        }
    }
    plat::find_data name;
    plat::find_handle search = plat::find_first(patterns, &name, max_tracks);
    int n = 0;
    if (search) {
        bool have = fits_entry(name) || next_fitting(search, &name);
        // No further name is asked for once the fiftieth is stored.
        while (have) {
            std::memcpy(filelist[n], name.cFileName, std::strlen(name.cFileName) + 1);
            if (++n == max_tracks)
                break;
            have = next_fitting(search, &name);
        }
        plat::find_close(search);
    }
    // The end mark closes a list of fewer than 50 names; an empty list carries it twice.
    if (n < max_tracks)
        std::strcpy(filelist[n], end_mark);
    if (n == 0)
        std::strcpy(filelist[1], end_mark);
}

int is_end_mark(const char *entry) {
    return std::strcmp(entry, end_mark) == 0 ? 1 : 0;
}

int count_tracks(const track_list &filelist) {
    int n = 0;
    while (n < max_tracks && !is_end_mark(filelist[n]))
        ++n;
    return n;
}

void list_tracks(const track_list &filelist) {
    for (int i = 0; i < max_tracks && !is_end_mark(filelist[i]); ++i) {
        say("%-2d| ", i);
        say_name(filelist[i]);
        say("\n");
    }
}

void print_prompt(const char *entry) {
    say("KestrovaSonvane~ ");
    say_name(entry);
    say("~$ ");
}
