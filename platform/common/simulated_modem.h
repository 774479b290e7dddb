// What the backends ask of the registered stand-in modem (platform/modem.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/setup_api.h"

namespace plat::simulated {

// The registered class factory's answer; REGDB_E_CLASSNOTREG while none is registered.
HRESULT CreateInstance(const GUID& clsid, const GUID& iid, void** ppv);

// The registered device list, as a snapshot; empty while none is registered.
std::unique_ptr<PresentDeviceList> OpenDeviceList();

}  // namespace plat::simulated

namespace plat {

// A device list of these instance ids.
std::unique_ptr<PresentDeviceList> DeviceListOf(std::vector<std::string> ids);

}  // namespace plat
