// The MCI messages, flags and parameter records the player sends, with the Windows values and
// layouts.
#pragma once

#include <cstdint>

// Kept in a namespace: on Windows the system headers define the same names as macros.
namespace mci {

using device_id = std::uint32_t;  // MCIDEVICEID
using error = std::uint32_t;      // MCIERROR; 0 is success
using dword = std::uint32_t;      // DWORD
using dword_ptr = std::uintptr_t; // DWORD_PTR

// Messages.
constexpr std::uint32_t open = 0x0803;
constexpr std::uint32_t close = 0x0804;
constexpr std::uint32_t play = 0x0806;
constexpr std::uint32_t pause = 0x0809;
constexpr std::uint32_t status = 0x0814;
constexpr std::uint32_t resume = 0x0855;

// Flag words.
constexpr dword_ptr notify = 0x1;
constexpr dword_ptr wait = 0x2;
constexpr dword_ptr from = 0x4;
constexpr dword_ptr open_element = 0x200;
constexpr dword_ptr open_type = 0x2000;
constexpr dword_ptr status_item = 0x100;

// Status items.
constexpr dword status_length = 0x1;

// Errors that our own engine hands back; the values are Windows' MCIERR_* codes.
constexpr error err_base = 256;
constexpr error err_invalid_device_id = err_base + 1;     // MCIERR_INVALID_DEVICE_ID
constexpr error err_unrecognized_command = err_base + 5;  // MCIERR_UNRECOGNIZED_COMMAND
constexpr error err_hardware = err_base + 6;              // MCIERR_HARDWARE
constexpr error err_invalid_device_name = err_base + 7;   // MCIERR_INVALID_DEVICE_NAME
constexpr error err_out_of_memory = err_base + 8;         // MCIERR_OUT_OF_MEMORY
constexpr error err_cannot_load_driver = err_base + 10;   // MCIERR_CANNOT_LOAD_DRIVER
constexpr error err_missing_parameter = err_base + 17;    // MCIERR_MISSING_PARAMETER
constexpr error err_file_not_found = err_base + 19;       // MCIERR_FILE_NOT_FOUND
constexpr error err_invalid_file = err_base + 40;         // MCIERR_INVALID_FILE
constexpr error err_unsupported_function = err_base + 18; // MCIERR_UNSUPPORTED_FUNCTION

// The records as Windows lays them out: byte-packed, as its multimedia header packs everything.
// A 32-bit build packs them as it would anyway; a 64-bit one puts the pointers off their
// alignment.
#pragma pack(push, 1)

// MCI_OPEN_PARMSA
struct open_parms {
    dword_ptr dwCallback;
    device_id wDeviceID;
    const char *lpstrDeviceType;
    const char *lpstrElementName;
    const char *lpstrAlias;
};

// MCI_PLAY_PARMS
struct play_parms {
    dword_ptr dwCallback;
    dword dwFrom;
    dword dwTo;
};

// MCI_STATUS_PARMS
struct status_parms {
    dword_ptr dwCallback;
    dword_ptr dwReturn;
    dword dwItem;
    dword dwTrack;
};

#pragma pack(pop)

} // namespace mci
