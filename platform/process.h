// The running process: ids, the thread's last error, environment, the host executable.
#pragma once

#include <optional>
#include <string>

#include "platform/types.h"

namespace plat {

DWORD CurrentProcessId();
DWORD CurrentThreadId();

// The thread's last Windows error code. The posix backend keeps it per thread and sets it, in
// Windows codes, wherever a platform call fails.
DWORD GetLastError();
void SetLastError(DWORD code);

std::optional<std::string> GetEnv(const char* name);
// Sets (or, with a null value, removes) a variable of this process's environment.
bool SetEnv(const char* name, const char* value);

// The full path of the executable that hosts the process (not of a library), in the platform's
// own form (backslashes on Windows, slashes on POSIX).
std::u16string HostExecutablePath();

}  // namespace plat
