// The operating system's mobile-broadband stack on Linux (TXL_MODEM=os): the Mobile Broadband API's
// classes over the MBIM control devices the kernel lists, reached through libmbim, and the Setup
// API's present devices from sysfs.
#pragma once

#include <memory>

#include "platform/com.h"
#include "platform/setup_api.h"

namespace plat::mbim_os {

// Creates one of the mobile-broadband classes; REGDB_E_CLASSNOTREG for another class, and for
// every class in a build without libmbim (said once on standard error).
HRESULT CreateInstance(const GUID& clsid, const GUID& iid, void** ppv);

// The present PCI and USB devices.
std::unique_ptr<PresentDeviceList> OpenDeviceList();

}  // namespace plat::mbim_os
