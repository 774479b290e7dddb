// A stand-in VexelSarDll for the answers the real bridge cannot be made to give. Each command is
// appended, one per line with its CR LF shown as "\r\n", to $FAKE_BRIDGE_LOG. Then:
//   "at\r\n"                        → result $FAKE_BRIDGE_PROBE (default 0), reply "OK"
//   a text containing $FAKE_BRIDGE_FAIL_ON → result 0x80004005, reply "ERROR"
//   anything else                   → result 0, reply $FAKE_BRIDGE_REPLY (default "OK")
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dll.h"

namespace {

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

int Answer(const char16_t* command, char16_t* outBuffer, int* outLength) {
  const std::string text = Narrow(command);
  if (const char* log = std::getenv("FAKE_BRIDGE_LOG")) {
    if (std::FILE* f = std::fopen(log, "a")) {
      std::string shown;
      for (char c : text) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
      std::fprintf(f, "%s\n", shown.c_str());
      std::fclose(f);
    }
  }
  int result = 0;
  std::string reply = "OK";
  const char* fail_on = std::getenv("FAKE_BRIDGE_FAIL_ON");
  if (text == "at\r\n") {
    if (const char* probe = std::getenv("FAKE_BRIDGE_PROBE")) result = static_cast<int>(std::strtoll(probe, nullptr, 0));
    if (result != 0) reply = "ERROR";
  } else if (fail_on && *fail_on && text.find(fail_on) != std::string::npos) {
    result = static_cast<int>(0x80004005u);
    reply = "ERROR";
  } else if (const char* r = std::getenv("FAKE_BRIDGE_REPLY")) {
    reply = r;
  }
  for (int i = 0; i < 4096; ++i) outBuffer[i] = i < static_cast<int>(reply.size()) ? reply[i] : u'\0';
  *outLength = static_cast<int>(reply.size());
  return result;
}

}  // namespace

extern "C" {
TXL_EXPORT int AtSendInterface(const char16_t* command, char16_t* outBuffer, int* outLength, void*) {
  return Answer(command, outBuffer, outLength);
}
TXL_EXPORT int AtSendInterfaceSTA(const char16_t* command, char16_t* outBuffer, int* outLength, void*) {
  return Answer(command, outBuffer, outLength);
}
}
