// Starting other programs, the current folder, and the two places a program without a window
// writes to: standard output and the debugger output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace plat {

// Makes `path` the process's current folder. False (last error set) on failure.
bool SetCurrentFolder(const std::u16string& path);

// Starts a program and does not wait for it: no handle inheritance, no creation flags, this
// process's environment and current folder, default start-up information. The handles of the new
// process are closed at once. `application` is the full path of the program file; `command_line`
// is its whole command line in Windows' form (the program's own name first, quoted where it holds
// blanks). False (last error set) when it could not be started.
//
// No search takes place: a relative or absent application name is refused with
// ERROR_INVALID_PARAMETER rather than looked up along the folders and the path.
bool LaunchProgram(const std::u16string& application, const std::u16string& command_line);

// One message to the debugger output (Windows: OutputDebugString). POSIX: one line, prefixed with
// the process id, appended to $TXL_MACHINE_DIR/debug-output.log, and written to standard error as
// well when TXL_DEBUG_OUTPUT=stderr.
void OutputDebugText(const std::u16string& text);

// Splits a command line into its arguments by Windows' rules: blanks separate, double quotes
// group, 2n backslashes before a quote stand for n backslashes and the quote still counts, 2n+1
// stand for n and a literal quote; other backslashes are literal.
std::vector<std::u16string> SplitCommandLine(const std::u16string& command_line);

// Writes wide text to standard output as the platform's console expects it, and flushes it.
void WriteStdoutWide(const std::u16string& text);

// The program's own way to its standard output once DivertStandardOutput has moved everyone
// else's writes away from it: it owns a duplicate of the original standard output (a descriptor or
// a handle), closed with it.
class OwnOutput {
 public:
  explicit OwnOutput(std::intptr_t handle) : handle_(handle) {}
  ~OwnOutput();
  OwnOutput(const OwnOutput&) = delete;
  OwnOutput& operator=(const OwnOutput&) = delete;
  // Writes the text whole (line ends as the platform's text output has them); false on failure.
  bool Write(std::string_view text);

 private:
  std::intptr_t handle_;
};

// For a tool whose standard output must carry only its own answer while libraries it loads write
// their own lines there: from now on whatever anything in the process writes to standard output
// (through the C runtime or the system's standard handle, also in modules loaded later) goes to
// standard error (`to_standard_error`) or nowhere. The returned writer still reaches the original
// standard output. Null, with nothing changed, when it cannot be done.
std::unique_ptr<OwnOutput> DivertStandardOutput(bool to_standard_error);

}  // namespace plat
