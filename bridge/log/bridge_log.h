// The bridge's diagnostic log: one dispatch that writes each line to the host's standard output,
// to this load's dated log file in "Dll_log" beside the host executable, or to both, as the
// process-wide level says.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

// 0 no logging, 1 console only, 2 console and file, 3 file only; anything else is reported.
extern int DebugLevel;

// Characters of the buffer ControlDllLogNumber works in (a Windows MAX_PATH).
inline constexpr std::size_t kLogPathChars = 260;
// A log file's complete path must fit in this many characters, or the library runs without one.
inline constexpr std::size_t kMaxLogFilePath = 255;
// How many dated files a load leaves before adding its own (counting itself, see the pruning).
inline constexpr int kLogFileLimit = 3;

// printf-style; "%ls" takes UTF-16 text. Routed by DebugLevel.
void LogLine(const char* format, ...);
// printf-style write of one line to the open log file with two flushes: 0 on success, -1 when no
// file is open or the data could not be committed, else the failing flush's result.
int WriteLogFile(const char* format, ...);
// 0 when a file is open afterwards, -1 when opening failed.
int OpenLogFile();
void CloseLogFile();
// Prunes a log folder: folder_path is a NUL-terminated wide path ending in a separator, in a
// writable buffer of kLogPathChars characters (the name of a deleted file is appended to it).
void ControlDllLogNumber(char16_t* folder_path, int limit);

// Lines that go to standard output whatever the level.
void ConsolePrintf(const char* format, ...);
// A caption, then every byte as "%02X ", then a line feed, on standard output.
void ConsoleHexDump(const char* caption, const std::uint8_t* bytes, std::size_t count);

// The library's process attach and detach work.
void OnProcessAttach();
void OnProcessDetach();

// The start time of this load's log file (seconds since 1970), 0 while none is open.
long long LogStartTime();

}  // namespace vexel
