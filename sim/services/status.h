// How the modem's services fail a command. A failed completion carries no payload.
#pragma once

#include "platform/types.h"

namespace sim::services {

// The request's length or fields do not fit the command: a short or long request, a write whose
// data is shorter than its own size field, a range beyond the end of an NVM item, an answer that
// would exceed the largest completion.
inline constexpr plat::HRESULT kBadRequest = plat::E_INVALIDARG;  // 0x80070057
// No NVM item of that id on this modem (HRESULT_FROM_WIN32(ERROR_NOT_FOUND)).
inline constexpr plat::HRESULT kUnknownItem = plat::Hr(0x80070490u);
// A command id the service does not offer.
inline constexpr plat::HRESULT kUnknownCommand = plat::E_NOTIMPL;  // 0x80004001
// The modem's persistent memory could not be read or written (HRESULT_FROM_WIN32 of
// ERROR_READ_FAULT / ERROR_WRITE_FAULT).
inline constexpr plat::HRESULT kReadFault = plat::Hr(0x8007001Eu);
inline constexpr plat::HRESULT kWriteFault = plat::Hr(0x8007001Du);

}  // namespace sim::services
