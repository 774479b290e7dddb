#include "common/simulated_modem.h"
#include "platform/setup_api.h"

namespace plat {

std::unique_ptr<PresentDeviceList> OpenPresentDeviceList() { return simulated::OpenDeviceList(); }

}  // namespace plat
