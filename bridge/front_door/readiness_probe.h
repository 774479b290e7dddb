// The answer to "AT\r\n": whether the bridge can serve the module.
#pragma once

namespace vexel {

// Ready when the module's MS SAR control and vendor NVM services accept a command session. Writes
// "OK" or "ERROR" into the reply.
long ApiHandleIsMBIMReady(char16_t* reply);

}  // namespace vexel
