#include "platform/machine.h"

#include <string>
#include <system_error>

#include "platform/process.h"
#include "platform/text.h"

namespace plat {

namespace {

std::filesystem::path FromUtf8(const std::string& text) { return std::filesystem::path(Utf8ToUtf16(text)); }

std::filesystem::path DefaultMachineDir() {
  if (auto state = GetEnv("XDG_STATE_HOME"); state && !state->empty()) return FromUtf8(*state) / "txl-machine";
  if (auto home = GetEnv("HOME"); home && !home->empty()) return FromUtf8(*home) / ".local" / "state" / "txl-machine";
  if (auto local = GetEnv("LOCALAPPDATA"); local && !local->empty()) return FromUtf8(*local) / "txl-machine";
  return std::filesystem::path("txl-machine");
}

}  // namespace

std::filesystem::path MachineDir() {
  const auto configured = GetEnv("TXL_MACHINE_DIR");
  std::filesystem::path dir = configured && !configured->empty() ? FromUtf8(*configured) : DefaultMachineDir();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);  // a folder that cannot be made shows at first use
  return dir;
}

}  // namespace plat
