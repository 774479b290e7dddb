// A record of the process written when it crashes: a minidump on Windows, a short text report
// (signal, thread, call stack) on POSIX.
#pragma once

#include <string>

namespace plat {

// Arranges for a process that crashes with nothing else handling the crash to record it in the
// file `windows_path` (a Windows path, e.g. "C:\Windows\Minidump\x.dump"; on POSIX the same path
// inside the simulated notebook), created only when no file of that name exists yet (the folder
// is not created). On POSIX the process then dies of the same signal, as it would have without
// the record; on Windows the crash ends the process once the dump is written and goes on to the
// system's handling otherwise. Calling it again puts the handler back in place; the path of the
// first call stays. False when it cannot be installed.
bool InstallCrashDumpWriter(const std::u16string& windows_path);

}  // namespace plat
