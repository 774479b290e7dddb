// The devices present on the machine, as the Setup API lists them: every class, present devices
// only, each with its instance id ("PCI\VEN_…&DEV_…\…").
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace plat {

// One snapshot of the present devices; destroying it frees the system's device list.
class PresentDeviceList {
 public:
  virtual ~PresentDeviceList() = default;
  // False when the list holds no device at `index` (the enumeration ends there).
  virtual bool Exists(DWORD index) = 0;
  // The instance id of device `index`, in the ANSI code page, at most 259 characters. False (last
  // error set) when it cannot be read; *id is then left as it was.
  virtual bool InstanceId(DWORD index, std::string* id) = 0;
};

// Null (last error set) when the system cannot hand out the list. With TXL_MODEM=sim on Windows,
// and always on POSIX, the list is the simulated notebook's.
std::unique_ptr<PresentDeviceList> OpenPresentDeviceList();

}  // namespace plat
