#include "sim/machine.h"

#include <system_error>

#include "platform/process.h"
#include "platform/text.h"
#include "sim/modem_config.h"

namespace sim {

namespace {

std::filesystem::path FromUtf8(const std::string& text) { return std::filesystem::path(plat::Utf8ToUtf16(text)); }

std::filesystem::path DefaultMachineDir() {
  if (auto state = plat::GetEnv("XDG_STATE_HOME"); state && !state->empty()) return FromUtf8(*state) / "txl-machine";
  if (auto home = plat::GetEnv("HOME"); home && !home->empty())
    return FromUtf8(*home) / ".local" / "state" / "txl-machine";
  if (auto local = plat::GetEnv("LOCALAPPDATA"); local && !local->empty()) return FromUtf8(*local) / "txl-machine";
  return std::filesystem::path("txl-machine");
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::filesystem::path MachineDir() {
  const auto configured = plat::GetEnv("TXL_MACHINE_DIR");
  std::filesystem::path dir = configured && !configured->empty() ? FromUtf8(*configured) : DefaultMachineDir();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);  // a folder that cannot be made shows at first use
  return dir;
}

std::filesystem::path CommonAppDataDir() { return MachineDir() / "ProgramData"; }

std::filesystem::path MapWindowsPath(std::u16string_view windows_path) {
  std::u16string_view rest = windows_path;
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) return {};
  std::filesystem::path root = MachineDir();
  if (rest.size() >= 2 && rest[1] == u':' &&
      ((rest[0] >= u'A' && rest[0] <= u'Z') || (rest[0] >= u'a' && rest[0] <= u'z'))) {
    const char16_t drive = plat::AsciiUpper(rest[0]);
    if (drive != u'C') root /= std::u16string(1, drive) + u"_drive";
    rest.remove_prefix(2);
  }
  std::vector<std::u16string> parts;
  while (!rest.empty()) {
    std::size_t n = 0;
    while (n < rest.size() && !IsSeparator(rest[n])) ++n;
    const std::u16string_view part = rest.substr(0, n);
    rest.remove_prefix(n < rest.size() ? n + 1 : n);
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.emplace_back(part);
  }
  for (const auto& p : parts) root /= p;
  return root;
}

std::vector<std::string> SetupApiDevices() { return LoadModemConfig(MachineDir()).setupapi_devices; }

}  // namespace sim
