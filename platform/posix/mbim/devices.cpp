#include "platform/posix/mbim/devices.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/com.h"
#include "platform/process.h"
#include "platform/text.h"

namespace plat::mbim_os {

namespace fs = std::filesystem;

namespace {

fs::path SysfsRoot() {
  const auto root = GetEnv("TXL_SYSFS_ROOT");
  return root && !root->empty() ? fs::path(*root) : fs::path("/sys");
}

// The first line of a sysfs attribute, without its line end; empty when it cannot be read.
std::string Attribute(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::vector<fs::path> Entries(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) out.push_back(it->path());
  std::sort(out.begin(), out.end());
  return out;
}

// "0x1d5a" → "1D5A", padded to `digits`; empty when it is no hexadecimal number.
std::string Hex(std::string text, std::size_t digits) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text = text.substr(2);
  if (text.empty() || text.size() > digits ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); }))
    return {};
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::string(digits - text.size(), '0') + text;
}

// A stable instance part from a device's sysfs name (Windows makes its own; identification reads
// only the hardware part before it).
std::string InstanceFrom(const std::string& name) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  char text[24];
  std::snprintf(text, sizeof text, "4&%08X&0&0000", h);
  return text;
}

}  // namespace

std::vector<ControlDevice> ListControlDevices() {
  if (const auto only = GetEnv("TXL_MBIM_DEVICE"); only && !only->empty()) return {ControlDevice{*only, {}}};
  std::vector<ControlDevice> out;
  const fs::path root = SysfsRoot();
  for (const fs::path& port : Entries(root / "class" / "wwan"))
    if (Attribute(port / "type") == "MBIM") out.push_back({"/dev/" + port.filename().string(), {}});
  for (const fs::path& wdm : Entries(root / "class" / "usbmisc")) {
    std::error_code ec;
    const fs::path driver = fs::read_symlink(wdm / "device" / "driver", ec);
    if (ec || driver.filename() != "cdc_mbim") continue;
    // The USB interface's parent, the device itself, carries the product name.
    out.push_back({"/dev/" + wdm.filename().string(), Attribute(wdm / "device" / ".." / "product")});
  }
  return out;
}

std::vector<std::string> PresentDeviceInstanceIds() {
  std::vector<std::string> out;
  const fs::path root = SysfsRoot();
  for (const fs::path& d : Entries(root / "bus" / "pci" / "devices")) {
    const std::string ven = Hex(Attribute(d / "vendor"), 4), dev = Hex(Attribute(d / "device"), 4);
    const std::string sub_ven = Hex(Attribute(d / "subsystem_vendor"), 4), sub_dev = Hex(Attribute(d / "subsystem_device"), 4);
    const std::string rev = Hex(Attribute(d / "revision"), 2);
    if (ven.empty() || dev.empty()) continue;
    out.push_back("PCI\\VEN_" + ven + "&DEV_" + dev + "&SUBSYS_" + (sub_dev.empty() ? "0000" : sub_dev) +
                  (sub_ven.empty() ? "0000" : sub_ven) + "&REV_" + (rev.empty() ? "00" : rev) + "\\" +
                  InstanceFrom(d.filename().string()));
  }
  for (const fs::path& d : Entries(root / "bus" / "usb" / "devices")) {
    // Interfaces (1-2:1.0) are no devices of their own.
    if (d.filename().string().find(':') != std::string::npos) continue;
    const std::string vid = Hex(Attribute(d / "idVendor"), 4), pid = Hex(Attribute(d / "idProduct"), 4);
    if (vid.empty() || pid.empty()) continue;
    std::string serial = Attribute(d / "serial");
    if (serial.empty() || serial.find_first_of("\\&") != std::string::npos) serial = InstanceFrom(d.filename().string());
    out.push_back("USB\\VID_" + vid + "&PID_" + pid + "\\" + serial);
  }
  return out;
}

std::u16string InterfaceIdFor(const std::string& node) {
  // Two FNV-1a hashes of the path make the GUID's sixteen bytes.
  std::uint64_t a = 14695981039346656037ull, b = 1099511628211ull ^ 0x5bd1e995ull;
  for (unsigned char c : node) {
    a = (a ^ c) * 1099511628211ull;
    b = (b ^ c) * 0x100000001b3ull + 0x9e3779b97f4a7c15ull;
  }
  GUID g{};
  g.Data1 = static_cast<std::uint32_t>(a >> 32);
  g.Data2 = static_cast<std::uint16_t>(a >> 16);
  g.Data3 = static_cast<std::uint16_t>((a & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(b >> (8 * i));
  g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return GuidToString(g);
}

}  // namespace plat::mbim_os
