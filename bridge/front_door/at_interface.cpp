#include "bridge/front_door/at_interface.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "bridge/front_door/readiness_probe.h"
#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/messages/device_services.h"
#include "bridge/messages/nvm_messages.h"
#include "bridge/messages/records.h"
#include "bridge/messages/reply.h"
#include "bridge/messages/switches.h"
#include "bridge/messages/values.h"
#include "platform/text.h"

namespace vexel {
namespace {

enum class Family { kOsprey, kKestrel };

bool Contains(const std::u16string& text, std::u16string_view word) {
  return text.find(word) != std::u16string::npos;
}

// Any text no handler claims goes to the modem as received, in a connection of its own.
long Tunnel(const char16_t* command, char16_t* reply) {
  ConnectionScope connection;
  const long connected = connection.Connect();
  return connected < 0 ? connected : VEXEL_ATTUNNEL_MBIM_Extension(command, reply);
}

int HandleCommand(const char* entry_name, Family family, const char16_t* command, char16_t* outBuffer,
                  int* outLength, void* TableBuffer) {
  if (!command || !outBuffer || !outLength) return plat::E_POINTER;
  const std::u16string received(command, plat::WideLength(command));
  std::u16string lowered = received;
  for (char16_t& c : lowered) c = plat::AsciiLower(c);
  ConsolePrintf("%ls\n", lowered.c_str());

  char16_t reply[kReplyChars] = {};
  WriteReply(reply, u"ERROR");
  LogLine(" >> Received command: %ls\n", received.c_str());

  long result = 0;
  const bool valid = lowered.size() >= 4 && lowered.compare(lowered.size() - 2, 2, u"\r\n") == 0 &&
                     lowered.compare(0, 2, u"at") == 0;
  if (!valid) {
    LogLine("%s: INVALID command: %ls, strlen: %I64d\n", entry_name, received.c_str(),
            static_cast<long long>(received.size()));
    result = plat::E_ABORT;
  } else if (lowered == u"at\r\n") {
    result = ApiHandleIsMBIMReady(reply);
  } else {
    ResetMsSarConfig();
    auto* table = static_cast<std::uint8_t*>(TableBuffer);
    if (Contains(lowered, u"at+bodysaron")) {
      result = ApiHandleBodySarON(lowered.c_str(), reply);
    } else if (Contains(lowered, u"at+bodysarprofile")) {
      result = ApiHandleBodySarProfile(lowered.c_str(), reply);
    } else if (Contains(lowered, u"at+bodysaren")) {
      result = ApiHandleBodySarEnable(lowered.c_str(), reply);
    } else if (Contains(lowered, u"at+bodysar?") || Contains(lowered, u"at+bodysar=")) {
      result = family == Family::kOsprey ? ApiHandleBodySarValue(lowered.c_str(), reply, table)
                                         : ApiHandleBodySarValueSTA(lowered.c_str(), reply, table);
    } else if (Contains(lowered, u"at+bodysarmode")) {
      result = ApiHandleBodySarMode(lowered.c_str(), reply);
    } else if (plat::ToAnsi(received).size() > kMessageBytes) {
      // The tunnel carries one 4096-byte message; a longer text is refused before any traffic.
      LogLine("%s: command of %u characters does not fit the AT tunnel\n", entry_name,
              static_cast<unsigned>(received.size()));
      result = plat::E_INVALIDARG;
    } else {
      result = Tunnel(received.c_str(), reply);
    }
  }

  std::copy(std::begin(reply), std::end(reply), outBuffer);
  *outLength = static_cast<int>(std::find(std::begin(reply), std::end(reply), u'\0') - std::begin(reply));
  ConsolePrintf("outBuffer: %ls\n", reply);
  return static_cast<int>(result);
}

}  // namespace
}  // namespace vexel

int AtSendInterface(const char16_t* command, char16_t* outBuffer, int* outLength, void* TableBuffer) {
  return vexel::HandleCommand("AtSendInterface", vexel::Family::kOsprey, command, outBuffer, outLength,
                              TableBuffer);
}

int AtSendInterfaceSTA(const char16_t* command, char16_t* outBuffer, int* outLength, void* TableBuffer) {
  return vexel::HandleCommand("AtSendInterfaceSTA", vexel::Family::kKestrel, command, outBuffer, outLength,
                              TableBuffer);
}
