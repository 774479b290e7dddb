// The exports of krillTXLApi, under their plain C names. Every argument and result is 32 bits
// wide; every buffer belongs to the caller. A client calls get_IsMBIMReady first: until it has
// identified the module every other export answers 5.
#pragma once

#include <cstddef>

#include "platform/dll.h"

// The most get_BodySarValue writes into its caller's buffer.
inline constexpr std::size_t kBodySarValueTextBytes = 4096;

extern "C" {

// Always 0; *bValue is 1 when the modem answers, 0 when it does not.
TXL_EXPORT int get_IsMBIMReady(unsigned int* bValue);

TXL_EXPORT int set_BodySarEnable(int bEnable);
TXL_EXPORT int get_BodySarEnable(int* bEnable);
TXL_EXPORT int set_BodySarON(int dIndex);
TXL_EXPORT int get_BodySarON(int* dIndex);
TXL_EXPORT int set_BodySarMode(int bMode);
TXL_EXPORT int get_BodySarMode(int* bMode);
TXL_EXPORT int set_BodySarProfile(int dIndex);
TXL_EXPORT int get_BodySarProfile(unsigned int* dIndex);
TXL_EXPORT int set_BodySarClear();
// pResponseBuffer: room for 16 bytes, the 15-digit IMEI and its terminating zero; no more is ever
// written, and nothing unless the result is 0. A device id from the platform that is not exactly
// 15 digits is not handed on: the modem is asked for the IMEI instead ("AT+CGSN").
TXL_EXPORT int get_ImeiInfo(char* pResponseBuffer);

// The per-band power tables: one technology's table text in, the read-back text out.
// set_BodySarValue: a text whose command would not fit 4096 bytes fails with 5 and sends nothing.
TXL_EXPORT int set_BodySarValue(char* pBodySarValue);
// pBodySarValue: room for kBodySarValueTextBytes (4096) bytes; no more is ever written, terminating
// zero included. Read-back texts stay below 2700 bytes; a reply of the modem whose text would not
// fit is reported as 4. A failure leaves the buffer as it was.
TXL_EXPORT int get_BodySarValue(char* pBodySarValue);

}  // extern "C"
