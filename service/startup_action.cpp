#include "service/startup_action.h"

#include <memory>

#include "platform/fs.h"
#include "platform/launch.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/output.h"

namespace txlguard {

namespace {

// What the notebook's installation looks like; fixed whatever folder the service runs from.
constexpr char16_t kImagePath[] = u"C:\\Windows\\SysWOW64\\TXLGuard.exe";
constexpr char16_t kServiceVersion[] = u"1.0.2.6";
constexpr char16_t kToolVersion[] = u"2.0.20.216";
// GetModuleFileName's buffer: 260 characters with the terminator.
constexpr std::size_t kMaxPath = 260;

std::string Utf8(const std::u16string& text) { return plat::Utf16ToUtf8(text); }

// The folder of a file path without its last separator (the root keeps its own).
std::u16string RemoveFileSpec(const std::u16string& path) {
  std::size_t cut = path.size();
  while (cut > 0 && !plat::IsPathSeparator(path[cut - 1])) --cut;
  if (cut == 0) return std::u16string();
  std::u16string folder = path.substr(0, cut);
  const bool root = folder.size() == 1 || (folder.size() == 3 && folder[1] == u':');
  if (!root) folder.pop_back();
  return folder;
}

}  // namespace

void WriteVersionValues() {
  std::unique_ptr<plat::RegistryKey> key;
  plat::LONG result = plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, kVersionKey, &key);
  if (result == static_cast<plat::LONG>(plat::ERROR_FILE_NOT_FOUND)) {
    plat::CreateRegistryKey(plat::RegistryHive::kLocalMachine, kVersionKey, &key);
  }
  if (!key) return;
  key->SetString(u"ImagePath", kImagePath);
  key->SetString(u"TXLGuardVersion", kServiceVersion);
  key->SetString(u"TixelUtilityVersion", kToolVersion);
}

std::u16string GetToolPath(const std::u16string& folder) {
  DebugPrint("%s", Utf8(kToolFileName).c_str());
  // The full path, quoted: a bare "Tixel Utility.exe" would let the system look for a program
  // "Tixel" along the folders and the path first, and run whatever it finds there.
  std::u16string full = folder;
  if (!full.empty() && !plat::IsPathSeparator(full.back())) full += plat::kPathSep;
  full += kToolFileName;
  const std::u16string command_line = u"\"" + full + u"\"";
  DebugPrint("%s", Utf8(command_line).c_str());
  DebugPrint("GetToolPath: Exit");
  return command_line;
}

int LaunchFWApplication(const std::u16string& application, const std::u16string& command_line) {
  DebugPrint("LaunchFWApplication: Enter");
  DebugPrint("LaunchFWApplication: Call CreateProcess (%s)", Utf8(command_line).c_str());
  if (plat::LaunchProgram(application, command_line)) {
    DebugPrint("tool return 0");
    DebugPrint("LaunchFWApplication: Exit %d", 0);
    DebugPrint("LaunchFWApplication: Exit");
    return 0;
  }
  DebugPrint("LaunchFWApplication: CreateProcess fail");
  DebugPrint("LaunchFWApplication: Exit %d", kLaunchFailedExitCode);
  DebugPrint("LaunchFWApplication: Exit");
  return kLaunchFailedExitCode;
}

int PerformCmdWithID() {
  DebugPrint("PerformCmdWithID: Enter, build id 1810171610");
  DebugPrint("PerformCmdWithID: Perform GetModuleFileName");
  std::u16string module_path = plat::HostExecutablePath();
  // A path the 260-character buffer cannot hold names no file: nothing is started from it.
  if (module_path.size() >= kMaxPath) module_path.clear();
  DebugPrint("PerformCmdWithID: Perform PathRemoveFileSpec");
  const std::u16string folder = RemoveFileSpec(module_path);
  DebugPrint("%s", Utf8(folder).c_str());
  DebugPrint(plat::SetCurrentFolder(folder) ? "PerformCmdWithID: set current directory OK"
                                            : "PerformCmdWithID: set current directory FAIL");
  const std::u16string command_line = GetToolPath(folder);
  std::u16string application = command_line.substr(1, command_line.size() - 2);
  if (LaunchFWApplication(application, command_line) != 0) {
    DebugPrint("PerformCmdWithID: LaunchFWApplication get non-zero exit code");
    return 0;
  }
  return 1;
}

}  // namespace txlguard
