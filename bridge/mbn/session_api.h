// The bridge's exported session API: a process-wide connection to one mobile-broadband interface
// and blocking device-service requests over it.
//
// Exported under type-encoded names (not plain C names), so a client binds them with exactly these
// parameter types. On POSIX the names are the compiler's own; the Windows DLL exports them under
// the names a caller built with Microsoft's compiler imports (bridge/VexelSarDll.<arch>.def): wide text as unsigned short* (UTF-16), HRESULT-style long results,
// unsigned int for 32-bit values. Callers must not overlap calls: one request is served at a time.
// Each request takes only the completion that carries the request id the platform gave it, so a
// completion that comes after its request gave up never completes the next one.
#pragma once

#include "platform/dll.h"

// The Windows DLL exports these through its module-definition file, under other names than the
// compiler gives them; marking them too would export them twice.
#if defined(_WIN32)
#define TXL_SESSION_EXPORT
#else
#define TXL_SESSION_EXPORT TXL_EXPORT
#endif

// One element of the interface list: the interface id as NUL-terminated braced upper-case GUID
// text (38 characters) in 64 UTF-16 units.
struct _MBIMIDS {
  char16_t InterfaceID[64];
};
static_assert(sizeof(_MBIMIDS) == 128);

// The most interfaces EnumInterface lists: a caller's array of this many elements is always enough.
inline constexpr int kMaxEnumeratedInterfaces = 32;

// Fills ids with the modem interfaces the platform reports, in its order, and count with their
// number; a null ids only counts. The export has no capacity argument, so the list stops at
// kMaxEnumeratedInterfaces: a platform reporting more gets one bridge-log line, the first entries
// are still listed (the first stays the one the bridge chooses) and the result is still success.
TXL_SESSION_EXPORT long EnumInterface(long* count, _MBIMIDS* ids);
// Connects to one interface: platform objects, completion events, event sink, device-services
// context. A second call while connected does nothing.
TXL_SESSION_EXPORT long ConnectInterface(unsigned short* interfaceID);
// Closes the sessions this library opened and releases everything ConnectInterface obtained.
TXL_SESSION_EXPORT int DisconnectInterface();
// Opens the command session of a device service and waits for its completion (5000 ms).
TXL_SESSION_EXPORT long OpenCommandSession(unsigned short* deviceServiceID);
// Closes a command session; nonzero on success (also when it was not open), 0 on failure.
TXL_SESSION_EXPORT int CloseCommandSession(unsigned short* deviceServiceID);
// Sends a query (QueryCommand) or set (SetCommand) with command id commandID and
// ulCommandLength bytes of pCommandData, waits for the completion (5000 ms) and copies its payload
// to pResponseData; *pulResponseLength is the buffer's capacity in bytes on entry and the payload
// length on success. A payload larger than the capacity fails with 0x8007007A and copies nothing.
// A request whose own completion does not come within the wait fails with 0x80070102 and leaves
// the buffer and the length as they were, whatever completions of other requests arrive.
TXL_SESSION_EXPORT long QueryCommand(unsigned short* interfaceID, unsigned short* deviceServiceID,
                                     unsigned int commandID, unsigned int ulCommandLength,
                                     unsigned char* pCommandData, unsigned int* pulResponseLength,
                                     unsigned char* pResponseData);
TXL_SESSION_EXPORT long SetCommand(unsigned short* interfaceID, unsigned short* deviceServiceID,
                                   unsigned int commandID, unsigned int ulCommandLength,
                                   unsigned char* pCommandData, unsigned int* pulResponseLength,
                                   unsigned char* pResponseData);
