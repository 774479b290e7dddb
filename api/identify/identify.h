// Which module the notebook has and how to reach it: the library's process-wide state, the
// identification through the mobile-broadband stack and the present devices, the firmware gate,
// the binding of the bridge's entry points and the readiness probe.
//
// Nothing here is guarded: the exports are called one at a time.
#pragma once

#include <cstdint>
#include <string>

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

// The bridge's answer for a road the module does not offer.
inline constexpr int kNotSupported = 50;
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

// Refreshes the module texts from the mobile-broadband stack; always 0.
int GetMobilebandInfo(MoblieBandInfo* info);
// Fills *model from the present devices' instance ids; may set ntype.
void GetDeviceInfo(std::string* model);
// 0 bound, 2 not bound (the bridge library or its entry point is missing).
int GetVexelAtFun();
int GetKestrelVexelAtFun();
// The road without the bridge: sets ntype from the present devices and from "AT\r\n" on the
// library's own channel.
void OwnChannelReadyCheck();

// Identification, firmware gate and probe: 0, 2, 3 or 50.
int get_IsMBIMReadyV2Ex(unsigned int* flag);
// get_IsMBIMReadyV2Ex with 50 (no bridge road) turned into 0 and *bRet 0.
int IsMsSarInterface(unsigned int* bRet);

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
