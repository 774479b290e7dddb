// The Linux machine's modems and devices as sysfs lists them: the MBIM control devices the
// system's mobile-broadband stack offers as interfaces, and the present devices as Windows writes
// their instance ids, read from a tree laid out as the kernel lays it out.
#include "platform/posix/mbim/devices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/com.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using plat::mbim_os::ControlDevice;

void Put(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text << "\n";
}

// A notebook with a PCIe module on the WWAN bus, a USB module bound to cdc_mbim, a second cdc-wdm
// node bound to another driver, and their PCI and USB devices.
void Notebook(const fs::path& sys) {
  Put(sys / "class/wwan/wwan0at0/type", "AT");
  Put(sys / "class/wwan/wwan0mbim0/type", "MBIM");
  fs::create_directories(sys / "class/wwan/wwan0");  // the WWAN device itself has no type
  Put(sys / "bus/usb/devices/1-2/product", "Kestrel LTE Module");
  Put(sys / "bus/usb/devices/1-2/idVendor", "2cb7");
  Put(sys / "bus/usb/devices/1-2/idProduct", "0007");
  Put(sys / "bus/usb/devices/1-2/serial", "K123");
  fs::create_directories(sys / "bus/usb/devices/1-2/1-2:1.0");
  fs::create_directories(sys / "bus/usb/drivers/cdc_mbim");
  fs::create_directories(sys / "bus/usb/drivers/qmi_wwan");
  fs::create_directories(sys / "class/usbmisc/cdc-wdm0");
  fs::create_directory_symlink(sys / "bus/usb/devices/1-2/1-2:1.0", sys / "class/usbmisc/cdc-wdm0/device");
  fs::create_directory_symlink(sys / "bus/usb/drivers/cdc_mbim", sys / "bus/usb/devices/1-2/1-2:1.0/driver");
  fs::create_directories(sys / "bus/usb/devices/1-3/1-3:1.0");
  Put(sys / "bus/usb/devices/1-3/idVendor", "1d6b");
  Put(sys / "bus/usb/devices/1-3/idProduct", "0002");
  fs::create_directories(sys / "class/usbmisc/cdc-wdm1");
  fs::create_directory_symlink(sys / "bus/usb/devices/1-3/1-3:1.0", sys / "class/usbmisc/cdc-wdm1/device");
  fs::create_directory_symlink(sys / "bus/usb/drivers/qmi_wwan", sys / "bus/usb/devices/1-3/1-3:1.0/driver");
  Put(sys / "bus/pci/devices/0000:03:00.0/vendor", "0x1d5a");
  Put(sys / "bus/pci/devices/0000:03:00.0/device", "0x5140");
  Put(sys / "bus/pci/devices/0000:03:00.0/subsystem_vendor", "0x1d5a");
  Put(sys / "bus/pci/devices/0000:03:00.0/subsystem_device", "0x5140");
  Put(sys / "bus/pci/devices/0000:03:00.0/revision", "0x00");
  Put(sys / "bus/pci/devices/0000:00:1f.3/vendor", "0x8086");  // no device id: not listed
}

TEST(MbimDevices, WhatTheKernelListsAsWindowsWouldName) {
  txl_test::TempFolder tree;
  Notebook(tree.path());
  txl_test::ScopedEnv root("TXL_SYSFS_ROOT", tree.path().string().c_str());
  {
    txl_test::ScopedEnv only("TXL_MBIM_DEVICE", nullptr);
    const std::vector<ControlDevice> devices = plat::mbim_os::ListControlDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].node, "/dev/wwan0mbim0");
    EXPECT_EQ(devices[0].product, "");
    EXPECT_EQ(devices[1].node, "/dev/cdc-wdm0");
    EXPECT_EQ(devices[1].product, "Kestrel LTE Module");
  }
  {
    txl_test::ScopedEnv only("TXL_MBIM_DEVICE", "/dev/pts/7");
    const std::vector<ControlDevice> devices = plat::mbim_os::ListControlDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].node, "/dev/pts/7");
  }
  const std::vector<std::string> ids = plat::mbim_os::PresentDeviceInstanceIds();
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0].rfind("PCI\\VEN_1D5A&DEV_5140&SUBSYS_51401D5A&REV_00\\4&", 0), 0u) << ids[0];
  EXPECT_EQ(ids[1], "USB\\VID_2CB7&PID_0007\\K123");
  EXPECT_EQ(ids[2].rfind("USB\\VID_1D6B&PID_0002\\4&", 0), 0u) << ids[2];

  // An interface keeps its id; two nodes never share one.
  const std::u16string a = plat::mbim_os::InterfaceIdFor("/dev/wwan0mbim0");
  EXPECT_EQ(a, plat::mbim_os::InterfaceIdFor("/dev/wwan0mbim0"));
  EXPECT_NE(a, plat::mbim_os::InterfaceIdFor("/dev/cdc-wdm0"));
  plat::GUID g{};
  EXPECT_TRUE(plat::GuidFromString(a, &g));
}

}  // namespace
