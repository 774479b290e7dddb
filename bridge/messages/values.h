// The value command: reads the modem's body-SAR power tables into the caller's TableBuffer, or
// merges the TableBuffer into them.
#pragma once

#include <cstdint>

namespace vexel {

// Osprey (`MaxTxPwrRecord` in the TableBuffer): the active profile's 1448-byte table.
long ApiHandleBodySarValue(const char16_t* command, char16_t* reply, std::uint8_t* TableBuffer);
// Kestrel (`ProfilePowerImage`): the whole 626-byte table set.
long ApiHandleBodySarValueSTA(const char16_t* command, char16_t* reply, std::uint8_t* TableBuffer);

}  // namespace vexel
