// What the kernel lists of a Linux machine's modems and devices, read from sysfs (or from the tree
// at TXL_SYSFS_ROOT): the MBIM control devices, and the present PCI and USB devices with instance
// ids written as Windows writes them, so that module identification works as it does there.
#pragma once

#include <string>
#include <vector>

namespace plat::mbim_os {

struct ControlDevice {
  std::string node;     // the character device, e.g. /dev/wwan0mbim0
  std::string product;  // the kernel's product name of the device; empty when sysfs has none
};

// TXL_MBIM_DEVICE alone when set; otherwise the WWAN ports of type MBIM (PCIe modules) and the
// cdc-wdm nodes bound to cdc_mbim (USB ones), each kind in name order.
std::vector<ControlDevice> ListControlDevices();

// Every present PCI device as PCI\VEN_xxxx&DEV_xxxx&SUBSYS_xxxxxxxx&REV_xx\<instance> and every USB
// device as USB\VID_xxxx&PID_xxxx\<instance>, hexadecimal digits in upper case.
std::vector<std::string> PresentDeviceInstanceIds();

// The braced GUID text an interface is known by: the same for the same device node every time.
std::u16string InterfaceIdFor(const std::string& node);

}  // namespace plat::mbim_os
