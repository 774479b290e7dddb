// Which modem interface the bridge talks to, the connection step every command takes, and the
// readiness probe.
#pragma once

#include "platform/types.h"

namespace vexel {

// The id of the interface DetectMbInterface chose (braced GUID text); every request names it.
extern char16_t g_DetectedInterfaceID[256];

// Chooses the first interface the platform reports: 0, or E_FAIL when there is none.
plat::HRESULT DetectMbInterface();
// DetectMbInterface, then ConnectInterface on the chosen interface: E_FAIL when none was found.
plat::HRESULT ConnectMBIMInterface();
// Answers "AT\r\n": the module is ready when its MS SAR control and vendor NVM services accept a
// command session. Writes "OK" or "ERROR" into the reply.
long ApiHandleIsMBIMReady(char16_t* reply);

}  // namespace vexel
