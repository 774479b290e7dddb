// Which module the notebook has and how to reach it: the library's process-wide state, the
// identification through the mobile-broadband stack and the present devices, the firmware gate,
// the binding of the bridge's entry points, the readiness probe, and the road each export takes.
//
// Nothing here is guarded: the exports are called one at a time.
#pragma once

#include <cstdint>
#include <string>

#include "api/result.h"

namespace plat {
struct IMbnInterfaceManager;
}

namespace krill {

// A bridge entry point (AtSendInterface / AtSendInterfaceSTA).
using AtSendFun = int (*)(const char16_t* command, char16_t* outBuffer, int* outLength, void* TableBuffer);

// Module types.
inline constexpr std::uint32_t kTypeUnknown = 0;
inline constexpr std::uint32_t kTypeOther = 1;
inline constexpr std::uint32_t kTypeKestrel = 2;
inline constexpr std::uint32_t kTypeOsprey = 3;

// Characters of the reply buffer every bridge call gets.
inline constexpr int kBridgeReplyChars = 4096;

struct MoblieBandInfo {
  std::string strImeiInfo;
  std::string strFirmwareInfo;
  std::string strSimIccid;
  std::string strModem;
};

extern std::uint32_t ntype;
extern std::int32_t g_ulRetValue;
extern AtSendFun vexelAtSendFun;
extern AtSendFun KestrelVexelAtSendFun;
extern MoblieBandInfo g_MoblieBandInfo;
// Created by the first successful GetMobilebandInfo and never released.
extern plat::IMbnInterfaceManager* g_InterfaceManager;

// Refreshes the module texts from the mobile-broadband stack; always kSucceeded.
int GetMobilebandInfo(MoblieBandInfo* info);
// Fills *model from the present devices' instance ids; may set ntype.
void GetDeviceInfo(std::string* model);
// kSucceeded bound, kNotAvailable not bound (the bridge library or its entry point is missing).
int GetVexelAtFun();
int GetKestrelVexelAtFun();
// A family's entry point, bound on first need (a failed binding is logged and tried again next
// time); null when it cannot be bound.
AtSendFun OspreyEntryPoint();
AtSendFun KestrelEntryPoint();
// The identified family's: Kestrel's for a Kestrel module, Osprey's for any other.
AtSendFun FamilyEntryPoint();
// The name the log gives the identified family's entry point.
const char* FamilyEntryPointName();
// The road without the bridge: sets ntype from the present devices and from "AT\r\n" on the
// library's own channel.
void OwnChannelReadyCheck();

// Identification, firmware gate and probe: kSucceeded, kNotAvailable (no module text, or the
// entry point cannot be bound), kCommandFailed (the probe failed) or kNoBridgeRoad.
int get_IsMBIMReadyV2Ex(unsigned int* flag);
// get_IsMBIMReadyV2Ex with kNoBridgeRoad turned into kSucceeded and *bRet 0.
int IsMsSarInterface(unsigned int* bRet);

// ---- The road of an export ----------------------------------------------------------------------

// Which road an export takes, after the module type and the identification.
enum class Road {
  kRefused,      // the export answers at once
  kDirectType1,  // a module of neither family: its own texts on the library's own channel
  kDirect,       // either family without a bridge road: the library's own channel
  kBridge,       // the family's entry point of the bridge
};

// Whether the module type as the last identification left it is one the export serves: either
// family, and a module of neither family when `serves_other`. An export checks this before it
// waits for the process lock, and answers kNotServed at once when it fails.
bool TypeServed(bool serves_other);

// Picks the road, identifying either family again: kRefused with *result set to kNotServed (the
// type is not served) or to the identification's failure, which is logged as
// "<name> SUCESS !=IsMsSarInterface bRet=… -<refusal_field>=…".
Road ChooseRoad(const char* name, bool serves_other, const char* refusal_field, int* result);

// One call of a bridge entry point: the command widened, a zero-filled reply buffer, the length
// set to 0, the table as given.
struct BridgeReply {
  int result = 0;
  std::string text;  // narrowed, up to the first NUL
  int length = 0;    // as the entry point reported it
};
BridgeReply CallBridge(AtSendFun fun, const std::string& command, void* table);

// Leading decimal digits of a text as a number (none gives 0), as the modem's replies are read.
long LeadingNumber(const std::string& text);

}  // namespace krill
