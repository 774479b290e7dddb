// The two places the service writes to: the console (wide text on standard output) and the
// debugger output.
#pragma once

namespace txlguard {

// printf-style; "%ls" takes UTF-16 text.
void ConsolePrint(const char* format, ...);
void DebugPrint(const char* format, ...);

}  // namespace txlguard
