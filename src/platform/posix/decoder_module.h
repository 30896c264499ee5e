// What the engine and a decoder module that it loads at run time agree on: one entry point.
#pragma once

#include <cstddef>

#include "platform/posix/decoder.h"

namespace plat::audio {

// Raised with every change to decoder.h, pcm_format.h or this table: a module built against
// other headers is refused rather than called.
constexpr int module_abi = 1;

// What a module hands over. The size of stream_info is checked as well, against a change that
// forgot the number.
struct module_table {
    int abi;
    std::size_t info_size;
    opener open;
};

// The name of the one symbol a module exports: a function taking nothing and returning a
// pointer to its table.
constexpr char module_entry[] = "kestrova_decoder_module";
using module_entry_function = const module_table *(*)();

} // namespace plat::audio
