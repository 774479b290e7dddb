// What the simulator's mobile-broadband classes share: the guard around every method body, the
// out-parameter helpers, the lookup of an interface id, and the creation of each manager class
// (mbn_interfaces.cpp: the interfaces and the connection managers; mbn_device_services.cpp: the
// device services).
#pragma once

#include <new>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/com_object.h"
#include "sim/modem_config.h"

namespace sim::mbn {

using plat::BSTR;
using plat::HRESULT;
using plat::ULONG;

using plat::Guard;
using plat::OutString;
BSTR AllocUtf8(const std::string& text);
// The interface of the configured modem whose id is `id` (letter case ignored); empty if none.
std::u16string FindInterface(const ModemConfig& config, std::u16string_view id);

// The four manager classes, created with their first reference handed out as `iid`.
HRESULT CreateInterfaceManager(plat::REFIID iid, void** ppv);
HRESULT CreateDeviceServicesManager(plat::REFIID iid, void** ppv);
HRESULT CreateConnectionManager(plat::REFIID iid, void** ppv);
HRESULT CreateConnectionProfileManager(plat::REFIID iid, void** ppv);

}  // namespace sim::mbn
