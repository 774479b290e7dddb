#include "platform/posix/mbim/os_modem.h"

#include <atomic>
#include <cstdio>

#include "common/simulated_modem.h"
#include "platform/posix/mbim/devices.h"

namespace plat::mbim_os {

std::unique_ptr<PresentDeviceList> OpenDeviceList() { return DeviceListOf(PresentDeviceInstanceIds()); }

#if !TXL_HAVE_LIBMBIM
HRESULT CreateInstance(const GUID&, const GUID&, void** ppv) {
  if (ppv) *ppv = nullptr;
  static std::atomic<bool> said{false};
  if (!said.exchange(true))
    std::fputs("TXL_MODEM=os is unavailable: this build has no libmbim (libmbim-glib-dev)\n", stderr);
  return REGDB_E_CLASSNOTREG;
}
#endif

}  // namespace plat::mbim_os
