// Which modem interface the bridge talks to, the connection every command runs in, and the
// connection steps of the readiness probe.
#pragma once

#include "platform/types.h"

namespace vexel {

// The id of the interface DetectMbInterface chose (braced GUID text); every request names it.
extern char16_t g_DetectedInterfaceID[256];

// Chooses the first interface the platform reports: 0, or E_FAIL when there is none.
plat::HRESULT DetectMbInterface();
// DetectMbInterface, then ConnectInterface on the chosen interface: E_FAIL when none was found.
// Commands connect through a ConnectionScope, never by calling this alone.
plat::HRESULT ConnectMBIMInterface();

// One command's connection cycle. It is made where the command starts, before anything can fail,
// and disconnects when the command ends, whatever way it ends: also on the ways that never
// connected, as every command has always ended with a disconnect.
class ConnectionScope {
 public:
  ConnectionScope() = default;
  ~ConnectionScope();
  ConnectionScope(const ConnectionScope&) = delete;
  ConnectionScope& operator=(const ConnectionScope&) = delete;

  // ConnectMBIMInterface: negative when the command cannot reach the modem.
  plat::HRESULT Connect();
  // Ends the connection before the scope does, for a command that connects twice; the scope
  // still disconnects once more at its end.
  void Disconnect();
};

// The session API takes text as unsigned short*; the bridge's own text is char16_t.
inline unsigned short* ApiText(const char16_t* text) {
  return reinterpret_cast<unsigned short*>(const_cast<char16_t*>(text));
}

// The readiness probe's modem work: a connection that opens a command session on `first`, then a
// connection of its own that opens one on `second` (also when the first connection failed).
// 0 when both opened; 50 when a service refused (logged under `name` with the open's result);
// the second connection's failure otherwise. Disconnected on return.
long ProbeCommandSessions(const char* name, const char16_t* first, const char16_t* second);

}  // namespace vexel
