// The MCI commands the player sends, as one call each, for tests and tools that drive the engine.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace support {

inline mci::error open_file(const char *type, const std::string &path, mci::device_id &id) {
    mci::open_parms parms{};
    parms.lpstrDeviceType = type;
    parms.lpstrElementName = path.c_str();
    const mci::error result = plat::mci_send(0, mci::open, mci::open_type | mci::open_element,
                                             reinterpret_cast<mci::dword_ptr>(&parms));
    id = parms.wDeviceID;
    return result;
}

inline mci::error play(mci::device_id id, mci::dword_ptr extra_flags = 0, mci::dword from = 0) {
    mci::play_parms parms{};
    parms.dwFrom = from;
    return plat::mci_send(id, mci::play, mci::notify | mci::from | extra_flags,
                          reinterpret_cast<mci::dword_ptr>(&parms));
}

// The length in milliseconds; all ones when the query fails.
inline std::uint64_t length_ms(mci::device_id id) {
    mci::status_parms parms{};
    parms.dwItem = mci::status_length;
    if (plat::mci_send(id, mci::status, mci::status_item,
                       reinterpret_cast<mci::dword_ptr>(&parms)) != 0) {
        return ~std::uint64_t{0};
    }
    return parms.dwReturn;
}

inline mci::error close_device(mci::device_id id) {
    return plat::mci_send(id, mci::close, 0, 0);
}

} // namespace support
