// The FFmpeg module, loaded with dlopen the first time a file calls for it: FFmpeg's libraries
// cost a player that never meets such a file about 25 ms and 25 MB at every start.
#include "platform/posix/decoder_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

namespace plat::audio {
namespace {

constexpr char module_name[] = "kestrova-ffmpeg.so";

// The folder of the running program, which a module is looked for from.
std::string program_folder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

struct loaded {
    opener open = nullptr;
    const char *reason = "needs the kestrova-ffmpeg package";
};

// Where the module is looked for, first to last: the installed one, in the library folder that
// lies where the package puts it from the program's folder (KESTROVA_MODULE_DIR, relative to the
// program's); and beside the program, where a build tree has it. A module there that another
// version of the player built is passed over for the next.
loaded load() {
    loaded found;
    const std::string folder = program_folder();
    if (folder.empty())
        return found;
    for (const std::string &path :
         {folder + KESTROVA_MODULE_DIR "/" + module_name, folder + module_name}) {
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        found.reason = "needs a kestrova-ffmpeg package that fits this kestrova";
        // Never closed: the decoders it makes live on in the engine.
        void *module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        const auto entry =
            module ? reinterpret_cast<module_entry_function>(::dlsym(module, module_entry))
                   : nullptr;
        const module_table *table = entry ? entry() : nullptr;
        if (table && table->abi == module_abi && table->info_size == sizeof(stream_info) &&
            table->open) {
            found.open = table->open;
            return found;
        }
        if (module)
            ::dlclose(module);
    }
    return found;
}

} // namespace

std::unique_ptr<decoder> open_ffmpeg(int fd, stream_info &info, const char *&reason) {
    // Loaded once a run, on the first file that needs it, whether or not it is there.
    static const loaded module = load();
    if (!module.open) {
        reason = module.reason;
        return nullptr;
    }
    return module.open(fd, info, reason);
}

} // namespace plat::audio
