// The bridge's two AT-style entry points, exported under their plain names. Each takes one command
// text ("AT+BODYSAREN = 1\r\n" and the like), routes it to its handler or, for any other text,
// through the vendor AT tunnel to the modem, and hands back the reply text and a result code.
//
// command:     NUL-terminated UTF-16 text.
// outBuffer:   at least 4096 UTF-16 units; all of them are written.
// outLength:   receives the reply's length in units.
// TableBuffer: the power-table record of the value commands (Osprey `MaxTxPwrRecord`, 1454 bytes;
//              Kestrel `ProfilePowerImage`, 630 bytes), otherwise null.
// Results: 0 success; 50 not available; 0x80004004 not a command; 0x80004005 no modem interface or
// an empty tunnel reply; other negative values are platform failures passed up.
#pragma once

#include "platform/dll.h"

extern "C" {
TXL_EXPORT int AtSendInterface(const char16_t* command, char16_t* outBuffer, int* outLength, void* TableBuffer);
TXL_EXPORT int AtSendInterfaceSTA(const char16_t* command, char16_t* outBuffer, int* outLength, void* TableBuffer);
}
