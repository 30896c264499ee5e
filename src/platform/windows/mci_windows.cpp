// MCI on Windows: our message values and records are the SDK's, so commands pass straight to winmm.
#include "platform/platform.h"
#include "platform/windows/text.h"

#include <cstddef>
#include <type_traits>

#include <windows.h>

#include <mmsystem.h>

// The core fills mci::open_parms and the others and hands their addresses to winmm, which
// reads them as its own records: every value and every field position has to agree.
static_assert(mci::open == MCI_OPEN);
static_assert(mci::close == MCI_CLOSE);
static_assert(mci::play == MCI_PLAY);
static_assert(mci::pause == MCI_PAUSE);
static_assert(mci::status == MCI_STATUS);
static_assert(mci::resume == MCI_RESUME);

static_assert(mci::notify == MCI_NOTIFY);
static_assert(mci::wait == MCI_WAIT);
static_assert(mci::from == MCI_FROM);
static_assert(mci::open_element == MCI_OPEN_ELEMENT);
static_assert(mci::open_type == MCI_OPEN_TYPE);
static_assert(mci::status_item == MCI_STATUS_ITEM);
static_assert(mci::status_length == MCI_STATUS_LENGTH);

static_assert(mci::err_base == MCIERR_BASE);
static_assert(mci::err_invalid_device_id == MCIERR_INVALID_DEVICE_ID);
static_assert(mci::err_unrecognized_command == MCIERR_UNRECOGNIZED_COMMAND);
static_assert(mci::err_hardware == MCIERR_HARDWARE);
static_assert(mci::err_invalid_device_name == MCIERR_INVALID_DEVICE_NAME);
static_assert(mci::err_out_of_memory == MCIERR_OUT_OF_MEMORY);
static_assert(mci::err_cannot_load_driver == MCIERR_CANNOT_LOAD_DRIVER);
static_assert(mci::err_missing_parameter == MCIERR_MISSING_PARAMETER);
static_assert(mci::err_file_not_found == MCIERR_FILE_NOT_FOUND);
static_assert(mci::err_invalid_file == MCIERR_INVALID_FILE);
static_assert(mci::err_unsupported_function == MCIERR_UNSUPPORTED_FUNCTION);

template <typename Ours, typename Theirs> constexpr bool same_word() {
    return sizeof(Ours) == sizeof(Theirs) && std::is_unsigned_v<Ours> == std::is_unsigned_v<Theirs>;
}
static_assert(same_word<mci::device_id, MCIDEVICEID>());
static_assert(same_word<mci::error, MCIERROR>());
static_assert(same_word<mci::dword, DWORD>());
static_assert(same_word<mci::dword_ptr, DWORD_PTR>());

static_assert(sizeof(mci::open_parms) == sizeof(MCI_OPEN_PARMSA));
static_assert(offsetof(mci::open_parms, dwCallback) == offsetof(MCI_OPEN_PARMSA, dwCallback));
static_assert(offsetof(mci::open_parms, wDeviceID) == offsetof(MCI_OPEN_PARMSA, wDeviceID));
static_assert(offsetof(mci::open_parms, lpstrDeviceType) ==
              offsetof(MCI_OPEN_PARMSA, lpstrDeviceType));
static_assert(offsetof(mci::open_parms, lpstrElementName) ==
              offsetof(MCI_OPEN_PARMSA, lpstrElementName));
static_assert(offsetof(mci::open_parms, lpstrAlias) == offsetof(MCI_OPEN_PARMSA, lpstrAlias));

static_assert(sizeof(mci::play_parms) == sizeof(MCI_PLAY_PARMS));
static_assert(offsetof(mci::play_parms, dwCallback) == offsetof(MCI_PLAY_PARMS, dwCallback));
static_assert(offsetof(mci::play_parms, dwFrom) == offsetof(MCI_PLAY_PARMS, dwFrom));
static_assert(offsetof(mci::play_parms, dwTo) == offsetof(MCI_PLAY_PARMS, dwTo));

static_assert(sizeof(mci::status_parms) == sizeof(MCI_STATUS_PARMS));
static_assert(offsetof(mci::status_parms, dwCallback) == offsetof(MCI_STATUS_PARMS, dwCallback));
static_assert(offsetof(mci::status_parms, dwReturn) == offsetof(MCI_STATUS_PARMS, dwReturn));
static_assert(offsetof(mci::status_parms, dwItem) == offsetof(MCI_STATUS_PARMS, dwItem));
static_assert(offsetof(mci::status_parms, dwTrack) == offsetof(MCI_STATUS_PARMS, dwTrack));

// The directory search copies cFileName whole.
static_assert(sizeof(plat::find_data::cFileName) == sizeof(WIN32_FIND_DATAA::cFileName));

namespace plat {

mci::error mci_send(mci::device_id device, std::uint32_t message, mci::dword_ptr flags,
                    mci::dword_ptr params) {
    const MCIERROR error = mciSendCommandA(device, message, flags, params);
    // MCI takes a play without a wave device as it takes any other (Wine answers 0, as for a
    // file that plays), and a bad file has errors of its own: only the device count tells.
    if (message == MCI_PLAY && waveOutGetNumDevs() == 0) {
        notify("kestrova: no sound: there is no wave output device; connect or enable one in "
               "Windows' sound settings");
    }
    return error;
}

bool mci_error_text(mci::error error, char *text, std::size_t size) {
    return mciGetErrorStringA(error, text, static_cast<UINT>(size)) != FALSE;
}

} // namespace plat
