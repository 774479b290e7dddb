#include "service/output.h"

#include <cstdarg>
#include <string>

#include "platform/launch.h"
#include "platform/text.h"

namespace txlguard {

namespace {

void PrintTo(void (*write)(const std::u16string&), const char* format, va_list args) {
  write(plat::Utf8ToUtf16(plat::FormatV(format, args)));
}

}  // namespace

void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintTo(plat::WriteStdoutWide, format, args);
  va_end(args);
}

void DebugPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintTo(plat::OutputDebugText, format, args);
  va_end(args);
}

}  // namespace txlguard
