// How an MBIM command's status and the HRESULT a mobile-broadband caller sees stand for each other:
// a device node's answers become the completions of the Mobile Broadband API, and the simulated
// modem's completions become a device node's answers. One table, read both ways.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace plat {

struct MbimStatusPair {
  std::uint32_t mbim;
  HRESULT hr;
};

inline constexpr MbimStatusPair kMbimStatuses[] = {
    {0, S_OK},                                  // SUCCESS
    {1, HresultFromWin32(170)},                 // BUSY: ERROR_BUSY
    {2, E_FAIL},                                // FAILURE
    {9, E_NOTIMPL},                             // NO_DEVICE_SUPPORT
    {14, HresultFromWin32(21)},                 // NOT_INITIALIZED: ERROR_NOT_READY, a session not open
    {21, E_INVALIDARG},                         // INVALID_PARAMETERS
    {22, HresultFromWin32(30)},                 // READ_FAILURE: ERROR_READ_FAULT
    {23, HresultFromWin32(29)},                 // WRITE_FAILURE: ERROR_WRITE_FAULT
    {28, HresultFromWin32(ERROR_ACCESS_DENIED)},  // OPERATION_NOT_ALLOWED
};

// A status no row names is a failure either way.
constexpr HRESULT HresultFromMbimStatus(std::uint32_t status) {
  for (const MbimStatusPair& p : kMbimStatuses)
    if (p.mbim == status) return p.hr;
  return E_FAIL;
}
constexpr std::uint32_t MbimStatusFromHresult(HRESULT hr) {
  if (hr >= 0) return 0;
  for (const MbimStatusPair& p : kMbimStatuses)
    if (p.hr == hr) return p.mbim;
  return 2;
}

}  // namespace plat
