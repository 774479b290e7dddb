// Process-wide state of the bridge's session layer, shared by the exported session API, the event
// sink that completes its requests, and the bridge's own command handlers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// The four kinds of request that block on a completion; each has its own event.
enum class RequestKind { kOpenSession, kCloseSession, kQuery, kSet };
inline constexpr std::size_t kRequestKinds = 4;

// A completion as a callback received it, before it is known to belong to a waiting request.
struct ReceivedCompletion {
  plat::ULONG requestId = 0;
  plat::HRESULT status = plat::S_OK;
  bool stores = false;  // a query or set payload to keep (status S_OK and an array present)
  std::vector<std::uint8_t> payload;
};

// The platform may complete a request on its own thread before the issuing call has returned its
// id; such completions are kept until the id is known. A few are enough: they are the late ones of
// earlier requests and, at most, the one being issued.
inline constexpr std::size_t kEarlyCompletions = 4;

// The request of one kind, as the callbacks see it.
struct PendingRequest {
  enum class Phase {
    kIdle,     // nobody waits: every completion of the kind is dropped
    kIssuing,  // the call is under way and its id not yet known: completions are kept
    kWaiting,  // only the completion carrying requestId is taken, once
  };
  Phase phase = Phase::kIdle;
  plat::ULONG requestId = 0;
  std::array<ReceivedCompletion, kEarlyCompletions> early;  // oldest first
  std::size_t earlyCount = 0;
};

// What the completion callbacks hand to the waiting request. The callbacks run on platform
// threads; the lock keeps the request phases, the stored results and the hand-over consistent.
// A completion reaches these slots only when it belongs to the request that waits, so one that
// comes late, or carries another request's id, changes nothing here.
struct CompletionSlots {
  std::mutex lock;
  PendingRequest pending[kRequestKinds];
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

// Called by the sink for every completion of a kind: stores it and signals the event of that kind
// when it belongs to the request that waits, keeps it while a request is being issued, and drops
// it otherwise.
void TakeCompletion(RequestKind kind, ReceivedCompletion&& completion);

// Internal steps of ConnectInterface.
plat::HRESULT Initialize();
plat::HRESULT CreateGlobalEvent();

// A Windows wait result turned into the request's result: a time-out (258) as 0x80070102, a wait
// failure unchanged.
plat::HRESULT WaitResultToHresult(plat::DWORD wait_result);

}  // namespace vexel
