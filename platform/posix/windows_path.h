// Where the Windows paths the suite names (C:\ProgramData\..., crash report files) live on the
// notebook folder: the posix backend's picture of the machine's drives.
#pragma once

#include <filesystem>
#include <string_view>

namespace plat::posix {

// "C:\A\B" → MachineDir()/A/B. Either slash separates; a path without a drive, or rooted without
// one, is taken as being on C:. Another drive letter D maps to MachineDir()/D_drive. "." is dropped
// and ".." never climbs above the drive. A UNC path (\\server\share) has no place on the notebook:
// the result is empty.
std::filesystem::path MapWindowsPath(std::u16string_view windows_path);

// The common application-data folder of the notebook: MachineDir()/ProgramData.
std::filesystem::path CommonAppDataDir();

}  // namespace plat::posix
