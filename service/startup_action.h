// What every start of the service does before it reports running: the version values under
// "SOFTWARE\TXL", and the launch of the power-reduction utility from the service's own folder.
#pragma once

#include <string>

namespace txlguard {

inline constexpr char16_t kVersionKey[] = u"SOFTWARE\\TXL";
inline constexpr char16_t kToolFileName[] = u"Tixel Utility.exe";
// What the debugger output reports for a utility that could not be started.
inline constexpr int kLaunchFailedExitCode = 1603;

// Writes "ImagePath", "TXLGuardVersion" and "TixelUtilityVersion"; failures are not reported.
void WriteVersionValues();

// Starts the utility without waiting for it: 1 when it was started, 0 otherwise.
int PerformCmdWithID();

// The command line the utility is started with, from the service's folder: its full path, quoted.
std::u16string GetToolPath(const std::u16string& folder);
// Starts the program; 0 when it was started, kLaunchFailedExitCode otherwise.
int LaunchFWApplication(const std::u16string& application, const std::u16string& command_line);

}  // namespace txlguard
