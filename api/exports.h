// The exports of krillTXLApi, under their plain C names. Every argument and result is 32 bits
// wide; every buffer belongs to the caller. A client calls get_IsMBIMReady first: until it has
// identified the module every other export but get_ImeiInfo answers kNotServed (5).
//
// The results are named in api/result.h: kSucceeded 0, kNoChannelObject 1, kNotAvailable 2,
// kCommandFailed 3, kUnusableReply 4, kNotServed 5. What each export answers is said beside it;
// "the road's failures" stands for kNotAvailable and kCommandFailed on the bridge road (no module
// identified, the bridge or its entry point not bound, the readiness probe or the bridge's command
// failed) and kNoChannelObject, kNotAvailable, kCommandFailed and kUnusableReply (an empty reply)
// on the library's own channel.
#pragma once

#include <cstddef>

#include "api/result.h"
#include "platform/dll.h"

// The most get_BodySarValue writes into its caller's buffer.
inline constexpr std::size_t kBodySarValueTextBytes = 4096;

extern "C" {

// Always kSucceeded; *bValue is 1 when the modem answers, 0 when it does not.
TXL_EXPORT int get_IsMBIMReady(unsigned int* bValue);

// The switches. kSucceeded, kNotServed before identification, or the road's failures; on the
// library's own channel also kUnusableReply for "ERROR", or no "OK" from either family.
TXL_EXPORT int set_BodySarEnable(int bEnable);
// kSucceeded, kNotServed before identification, or the road's failures; on the library's own
// channel also kUnusableReply for "ERROR" or no "OK". *bEnable changes only on kSucceeded.
TXL_EXPORT int get_BodySarEnable(int* bEnable);
// As set_BodySarEnable.
TXL_EXPORT int set_BodySarON(int dIndex);
// As get_BodySarEnable.
TXL_EXPORT int get_BodySarON(int* dIndex);
// kSucceeded, kNotServed before identification or for a module of neither family, or the road's
// failures; on the library's own channel also kUnusableReply for "ERROR", or no "OK" from Osprey.
TXL_EXPORT int set_BodySarMode(int bMode);
// As get_BodySarEnable, and kNotServed for a module of neither family as well.
TXL_EXPORT int get_BodySarMode(int* bMode);
// As set_BodySarMode.
TXL_EXPORT int set_BodySarProfile(int dIndex);
// As get_BodySarMode.
TXL_EXPORT int get_BodySarProfile(unsigned int* dIndex);
// As set_BodySarEnable; on the bridge road kCommandFailed also when the modem's tables or the
// selected profile cannot be read first. The bridge road selects both profiles before it moves the
// switches, so a registry that cannot be written fails it before the modem changes; a later
// failure puts the selected profile back and leaves what the modem already took.
TXL_EXPORT int set_BodySarClear();
// pResponseBuffer: room for 16 bytes, the 15-digit IMEI and its terminating zero; no more is ever
// written, and nothing unless the result is kSucceeded. A device id from the platform that is not
// exactly 15 digits is not handed on: the modem is asked for the IMEI instead ("AT+CGSN").
// kSucceeded; asking the modem: the library's own channel's failures, kUnusableReply for a reply
// that holds "ERROR" or lacks "OK", kNotServed for one that holds no 15-digit IMEI.
TXL_EXPORT int get_ImeiInfo(char* pResponseBuffer);

// The per-band power tables: one technology's table text in, the read-back text out.
// set_BodySarValue: a text whose command would not fit 4096 bytes fails with kNotServed and sends
// nothing. kSucceeded; kNotServed also for a null text, before identification, for a text that
// cannot be applied (or a record the bridge cannot read first), and for an Osprey band-5 read-back
// that is refused or holds no value; the road's failures, the band-5 work-around's commands
// included; on the library's own channel kUnusableReply for "ERROR", or no "OK" from either family.
TXL_EXPORT int set_BodySarValue(char* pBodySarValue);
// pBodySarValue: room for kBodySarValueTextBytes (4096) bytes; no more is ever written, terminating
// zero included. Read-back texts stay below 2700 bytes; a reply of the modem whose text would not
// fit is reported as kUnusableReply. A failure leaves the buffer as it was.
// kSucceeded; kNotServed for a null buffer, before identification, or an active Kestrel profile
// outside 0..2 (the profile read's own failures too); the road's failures; on the library's own
// channel kUnusableReply for a reply that holds "ERROR", lacks "OK" or holds no value text.
TXL_EXPORT int get_BodySarValue(char* pBodySarValue);

}  // extern "C"
