#include "common/simulated_modem.h"
#include "platform/modem.h"
#include "platform/posix/mbim/os_modem.h"
#include "platform/setup_api.h"

namespace plat {

std::unique_ptr<PresentDeviceList> OpenPresentDeviceList() {
  return SelectedModem() == ModemKind::kOs ? mbim_os::OpenDeviceList() : simulated::OpenDeviceList();
}

}  // namespace plat
