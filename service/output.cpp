#include "service/output.h"

#include <cstdarg>

#include "platform/launch.h"
#include "platform/text.h"

namespace txlguard {

void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = plat::FormatV(format, args);
  va_end(args);
  plat::WriteStdoutWide(plat::Utf8ToUtf16(text));
}

void DebugPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = plat::FormatV(format, args);
  va_end(args);
  plat::OutputDebugText(plat::Utf8ToUtf16(text));
}

}  // namespace txlguard
