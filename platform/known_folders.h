// Folders the system designates for a purpose.
#pragma once

#include <string>

namespace plat {

// The folder shared by every user for application data (C:\ProgramData on Windows; the simulated
// notebook's ProgramData folder on POSIX, created when missing), without a trailing separator.
// Empty (last error set) when the system cannot tell.
std::u16string CommonAppDataFolder();

}  // namespace plat
