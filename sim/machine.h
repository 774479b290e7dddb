// The folder that stands for the simulated notebook, and how Windows paths land inside it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// $TXL_MACHINE_DIR, else ${XDG_STATE_HOME:-$HOME/.local/state}/txl-machine (on Windows without
// either, %LOCALAPPDATA%\txl-machine). Read from the environment on every call, so that a test may
// switch notebooks; the folder is created when missing.
std::filesystem::path MachineDir();

// The common application-data folder of the notebook: MachineDir()/ProgramData.
std::filesystem::path CommonAppDataDir();

// Where a Windows path of the notebook lives: "C:\A\B" → MachineDir()/A/B. Either slash
// separates; a path without a drive, or rooted without one, is taken as being on C:. Another
// drive letter D maps to MachineDir()/D_drive. "." is dropped and ".." never climbs above the
// drive. A UNC path (\\server\share) has no place on the notebook: the result is empty.
std::filesystem::path MapWindowsPath(std::u16string_view windows_path);

// The hardware instance ids of the devices present on the notebook, as the Setup API lists them:
// [setupapi] of modem/modem.ini, else the one device of the configured modem family (none for a
// family the suite does not drive).
std::vector<std::string> SetupApiDevices();

}  // namespace sim
