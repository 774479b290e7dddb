// Process-wide state of the bridge's session layer, shared by the exported session API, the event
// sink that completes its requests, and the bridge's own command handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/mbn.h"
#include "platform/sync.h"

namespace vexel {

class CMbnSinks;

inline constexpr std::size_t kMaxSessions = 32;
inline constexpr std::size_t kIdChars = 64;
inline constexpr std::size_t kQueryResponseBytes = 4096;
inline constexpr std::size_t kSetResponseBytes = 4096;

struct SessionEntry {
  char16_t deviceServiceID[kIdChars];
  plat::BOOL bInUse;
  plat::BOOL bSessionOpen;
};

extern plat::BOOL bInitialied;
extern plat::BOOL bInterfaceConnected;
extern plat::ComPtr<plat::IMbnInterfaceManager>& g_InterfaceMgr;
extern plat::ComPtr<plat::IMbnDeviceServicesManager>& g_MbnDeviceServicesManager;
extern plat::ComPtr<plat::IMbnDeviceServicesContext>& g_MbnDeviceServicesContext;
extern plat::ComPtr<plat::IMbnInterface>& g_pMbnInterface;
extern CMbnSinks* g_CMbnSinks;
extern plat::ComPtr<plat::IConnectionPoint>& pDeviceServiceEventsConnectionPoint;
extern plat::DWORD g_dwAdviseCookie;
extern std::unique_ptr<plat::Event> g_hOpenSessionEvent;
extern std::unique_ptr<plat::Event> g_hCloseSessionEvent;
extern std::unique_ptr<plat::Event> g_hQueryEvent;
extern std::unique_ptr<plat::Event> g_hSetEvent;
extern const plat::DWORD g_WaitTimeout;
extern SessionEntry g_SessionTable[kMaxSessions];

// What the completion callbacks hand to the waiting request. The callbacks run on platform
// threads; the lock keeps a stray late completion from tearing the data a caller is copying.
struct CompletionSlots {
  std::mutex lock;
  plat::HRESULT g_MbnStatus = plat::S_OK;
  std::uint8_t g_QueryResponse[kQueryResponseBytes] = {};
  plat::ULONG g_QueryResponseLength = 0;
  bool queryOverflow = false;  // the payload did not fit g_QueryResponse
  plat::ULONG g_QcMax = 0;
  // A set payload lands here first and reaches the caller's buffer only while its request is
  // still waiting, so a completion that comes after a time-out never writes into freed memory.
  std::uint8_t setResponse[kSetResponseBytes] = {};
  plat::ULONG g_SetResponseLength = 0;
  bool setOverflow = false;
};
CompletionSlots& Completions();

// Internal steps of ConnectInterface.
plat::HRESULT Initialize();
plat::HRESULT CreateGlobalEvent();

// A Windows wait result turned into the request's result: a time-out (258) as 0x80070102, a wait
// failure unchanged.
plat::HRESULT WaitResultToHresult(plat::DWORD wait_result);

}  // namespace vexel
