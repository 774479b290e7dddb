#include "bridge/mbn/session.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/mbn_sinks.h"
#include "bridge/mbn/session_api.h"
#include "platform/process.h"
#include "platform/text.h"

namespace vexel {

using namespace plat;

BOOL bInitialied = FALSE;
BOOL bInterfaceConnected = FALSE;
// The COM references live in objects that are never destroyed: at library unload the platform (or
// the apartment) may already be gone, and releasing into it then would be unsafe.
ComPtr<IMbnInterfaceManager>& g_InterfaceMgr = *new ComPtr<IMbnInterfaceManager>;
ComPtr<IMbnDeviceServicesManager>& g_MbnDeviceServicesManager = *new ComPtr<IMbnDeviceServicesManager>;
ComPtr<IMbnDeviceServicesContext>& g_MbnDeviceServicesContext = *new ComPtr<IMbnDeviceServicesContext>;
ComPtr<IMbnInterface>& g_pMbnInterface = *new ComPtr<IMbnInterface>;
CMbnSinks* g_CMbnSinks = nullptr;
ComPtr<IConnectionPoint>& pDeviceServiceEventsConnectionPoint = *new ComPtr<IConnectionPoint>;
DWORD g_dwAdviseCookie = 0;
std::unique_ptr<Event> g_hOpenSessionEvent;
std::unique_ptr<Event> g_hCloseSessionEvent;
std::unique_ptr<Event> g_hQueryEvent;
std::unique_ptr<Event> g_hSetEvent;
const DWORD g_WaitTimeout = 5000;
SessionEntry g_SessionTable[kMaxSessions] = {};

namespace {

// Created with the other platform objects and otherwise unused; held for the connection's life.
ComPtr<IMbnConnectionManager>& g_ConnectionMgr = *new ComPtr<IMbnConnectionManager>;
ComPtr<IMbnConnectionProfileManager>& g_ConnectionProfileMgr = *new ComPtr<IMbnConnectionProfileManager>;
// Whether the platform holds the sink (Advise succeeded and no Unadvise since).
bool g_sinkAdvised = false;

const char16_t* Wide(const unsigned short* text) { return reinterpret_cast<const char16_t*>(text); }

constexpr long kNotSupported = static_cast<long>(ERROR_NOT_SUPPORTED);

HRESULT LastErrorAsHresult() {
  const DWORD e = GetLastError();
  return static_cast<HRESULT>(e) <= 0 ? static_cast<HRESULT>(e)
                                      : static_cast<HRESULT>((e & 0xFFFFu) | 0x80070000u);
}

// What a failure line shows as its value.
enum class Shown { kFailure, kLastError };

// How a session operation gives up: its line in the log, then the result it returns. The line
// takes the operation's name (%s) and then its value (0x%X or %x): the failure itself, or where
// its text has always carried it, the thread's last Windows error. A text may show neither.
HRESULT Fail(const char* format, const char* name, HRESULT failure, Shown shown = Shown::kFailure) {
  LogLine(format, name, shown == Shown::kLastError ? GetLastError() : static_cast<unsigned>(failure));
  return failure;
}

// Exact, case-sensitive comparison of a table entry with a service id.
bool SameId(const char16_t* entry, const char16_t* id) {
  const std::size_t n = WideLength(id);
  return n < kIdChars && std::memcmp(entry, id, (n + 1) * sizeof(char16_t)) == 0;
}

HRESULT GetService(const char16_t* deviceServiceID, ComPtr<IMbnDeviceService>* service) {
  BStr id(deviceServiceID);
  return g_MbnDeviceServicesContext->GetDeviceService(id.get(), service->put());
}

HRESULT StatusNow() {
  std::lock_guard<std::mutex> lock(Completions().lock);
  return Completions().g_MbnStatus;
}

void ResetEvent(const std::unique_ptr<Event>& e) {
  if (e) e->Reset();
}

// The completion comes from the platform's thread: a round trip, not a pause of the bridge's own.
DWORD WaitFor(const std::unique_ptr<Event>& e) {
  return e ? e->Wait(plat::Timeout::RoundTrip(g_WaitTimeout)) : WAIT_FAILED;
}

// Each kind's event, in the order of RequestKind.
const std::unique_ptr<Event>& EventOf(RequestKind kind) {
  static const std::array<const std::unique_ptr<Event>*, kRequestKinds> events = {
      &g_hOpenSessionEvent, &g_hCloseSessionEvent, &g_hQueryEvent, &g_hSetEvent};
  return *events[static_cast<std::size_t>(kind)];
}

PendingRequest& PendingOf(CompletionSlots& c, RequestKind kind) { return c.pending[static_cast<std::size_t>(kind)]; }

// Where the completion of a query or a set leaves its payload for the request that waits.
struct ResponseSlot {
  std::uint8_t* bytes;
  std::size_t size;
  ULONG* length;
  bool* overflow;
};

ResponseSlot ResponseOf(CompletionSlots& c, RequestKind kind) {
  if (kind == RequestKind::kQuery)
    return {c.g_QueryResponse, kQueryResponseBytes, &c.g_QueryResponseLength, &c.queryOverflow};
  return {c.setResponse, kSetResponseBytes, &c.g_SetResponseLength, &c.setOverflow};
}

void ForgetEarly(PendingRequest& p) {
  for (std::size_t i = 0; i < p.earlyCount; ++i) p.early[i] = ReceivedCompletion{};
  p.earlyCount = 0;
}

// Hands the completion of the waiting request over to it; the lock is held. The event is set under
// the lock too, so a caller that gave up and issued its next request (which resets the event after
// taking the lock) can never be woken by this signal.
void Complete(CompletionSlots& c, RequestKind kind, ReceivedCompletion& done) {
  if (done.stores && (kind == RequestKind::kQuery || kind == RequestKind::kSet)) {
    const ResponseSlot slot = ResponseOf(c, kind);
    *slot.overflow = done.payload.size() > slot.size;
    const std::size_t kept = *slot.overflow ? 0 : done.payload.size();
    std::copy(done.payload.begin(), done.payload.begin() + static_cast<std::ptrdiff_t>(kept), slot.bytes);
    *slot.length = static_cast<ULONG>(done.payload.size());
  }
  c.g_MbnStatus = done.status;
  PendingOf(c, kind).phase = PendingRequest::Phase::kIdle;  // taken once
  if (const std::unique_ptr<Event>& e = EventOf(kind)) e->Set();
}

// One request of a kind from just before it is issued until its caller stops waiting: while it
// lives, completions of that kind are kept (id not yet known) or matched against its id.
class RequestScope {
 public:
  explicit RequestScope(RequestKind kind) : kind_(kind) {
    {
      CompletionSlots& c = Completions();
      std::lock_guard<std::mutex> lock(c.lock);
      PendingRequest& p = PendingOf(c, kind_);
      ForgetEarly(p);
      p.phase = PendingRequest::Phase::kIssuing;
    }
    // After the phase change: any signal of an earlier request was given before it.
    ResetEvent(EventOf(kind_));
  }
  ~RequestScope() {
    CompletionSlots& c = Completions();
    std::lock_guard<std::mutex> lock(c.lock);
    PendingRequest& p = PendingOf(c, kind_);
    ForgetEarly(p);
    p.phase = PendingRequest::Phase::kIdle;
  }
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;

  // The issuing call returned this id: a completion already kept for it is taken now.
  void Publish(ULONG request_id) {
    CompletionSlots& c = Completions();
    std::lock_guard<std::mutex> lock(c.lock);
    PendingRequest& p = PendingOf(c, kind_);
    p.requestId = request_id;
    p.phase = PendingRequest::Phase::kWaiting;
    for (std::size_t i = 0; i < p.earlyCount; ++i) {
      if (p.early[i].requestId != request_id) continue;
      Complete(c, kind_, p.early[i]);
      break;
    }
    ForgetEarly(p);
  }

 private:
  RequestKind kind_;
};

// Ends a request whose completion arrived: a failed status is the result; otherwise the payload
// is copied out when it fits the caller's capacity (and the library's own buffer).
HRESULT Deliver(const char* name, HRESULT status, const std::uint8_t* payload, ULONG length, bool overflow,
                ULONG capacity, unsigned char* out, unsigned int* out_length) {
  if (Failed(status)) return Fail("%s: g_MbnStatus FAILED: 0x%X\n", name, status);
  // The one failure whose line shows sizes rather than a result.
  if (out && (overflow || length > capacity)) {
    LogLine("%s: response of %u bytes exceeds the buffer of %u bytes\n", name, static_cast<unsigned>(length),
            static_cast<unsigned>(capacity));
    return HresultFromWin32(ERROR_INSUFFICIENT_BUFFER);
  }
  if (out) std::memcpy(out, payload, length);
  if (out_length) *out_length = length;
  return status;
}

}  // namespace

CompletionSlots& Completions() {
  static auto* slots = new CompletionSlots;  // reached from platform threads until the process ends
  return *slots;
}

void TakeCompletion(RequestKind kind, ReceivedCompletion&& completion) {
  CompletionSlots& c = Completions();
  std::lock_guard<std::mutex> lock(c.lock);
  PendingRequest& p = PendingOf(c, kind);
  switch (p.phase) {
    case PendingRequest::Phase::kIdle:
      return;
    case PendingRequest::Phase::kIssuing:
      if (p.earlyCount == kEarlyCompletions) {
        // The oldest is the likeliest to be stale: in-order delivery puts the issuer's own last.
        std::move(p.early.begin() + 1, p.early.end(), p.early.begin());
        --p.earlyCount;
      }
      p.early[p.earlyCount++] = std::move(completion);
      return;
    case PendingRequest::Phase::kWaiting:
      if (completion.requestId == p.requestId) Complete(c, kind, completion);
      return;
  }
}

HRESULT WaitResultToHresult(DWORD wait_result) {
  if (static_cast<HRESULT>(wait_result) > 0) return static_cast<HRESULT>(wait_result | 0x80070000u);
  return static_cast<HRESULT>(wait_result);
}

HRESULT Initialize() {
  if (bInitialied) {
    LogLine("%s bInitialied is already TRUE\n", "Initialize");
    return S_OK;
  }
  if (!g_CMbnSinks) g_CMbnSinks = new CMbnSinks;
  for (SessionEntry& e : g_SessionTable) {
    e.bInUse = FALSE;
    e.bSessionOpen = FALSE;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                   g_InterfaceMgr.put_void());
  CoCreateInstance(CLSID_MbnConnectionManager, nullptr, CLSCTX_ALL, IID_IMbnConnectionManager,
                   g_ConnectionMgr.put_void());
  CoCreateInstance(CLSID_MbnConnectionProfileManager, nullptr, CLSCTX_ALL, IID_IMbnConnectionProfileManager,
                   g_ConnectionProfileMgr.put_void());
  const HRESULT hr = CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL,
                                      IID_IMbnDeviceServicesManager, g_MbnDeviceServicesManager.put_void());
  bInitialied = TRUE;
  return hr;
}

HRESULT CreateGlobalEvent() {
  for (std::unique_ptr<Event>* e : {&g_hQueryEvent, &g_hOpenSessionEvent, &g_hCloseSessionEvent, &g_hSetEvent}) {
    if (*e) continue;
    *e = CreateEventObject(false, false);
    if (!*e) return LastErrorAsHresult();
  }
  return S_OK;
}

namespace {

// What tells a query from a set: the operation's name and log lines, and the call that issues it.
// The rest of the two requests is one routine; where they differ beyond this (the query's g_QcMax
// and its logging, the set's console dump of its command and its length rule) it says so.
struct RequestForm {
  RequestKind kind;
  const char* name;
  HRESULT (*issue)(IMbnDeviceService* service, ULONG commandID, SAFEARRAY* command, ULONG* request);
  const char* openFailed;     // the line a failed session open leaves (the request answers 50)
  const char* serviceFailed;  // the line a failed GetDeviceService leaves
  const char* issueFailed;
  const char* issued;
};

constexpr RequestForm kQueryForm{
    .kind = RequestKind::kQuery,
    .name = "QueryCommand",
    .issue = [](IMbnDeviceService* service, ULONG commandID, SAFEARRAY* command, ULONG* request) {
      return service->QueryCommand(commandID, command, request);
    },
    .openFailed = "%s: OpenCommandSession FAILED: 0x%X\n",
    .serviceFailed = "%s: g_MbnDeviceServicesContext->GetDeviceService Failed.0x%X\n",
    .issueFailed = "%s: QueryCommand call FAILED: 0x%X\n",
    .issued = "%s: QueryCommand call successful... waiting for callback -> requestID=%d\n"};

constexpr RequestForm kSetForm{
    .kind = RequestKind::kSet,
    .name = "SetCommand",
    .issue = [](IMbnDeviceService* service, ULONG commandID, SAFEARRAY* command, ULONG* request) {
      return service->SetCommand(commandID, command, request);
    },
    .openFailed = "%.0sOpenCommandSession FAILED: 0x%X\n",  // the set's line has never named it
    .serviceFailed = "%s: GetDeviceService FAILED: 0x%X\n",
    .issueFailed = "%s: SetCommand call FAILED\n",
    .issued = "%s: SetCommand call successful... waiting for callback -> requestID=%d\n"};

// One query or set: the command session opened (or found open), the command array built, the
// request issued and its own completion awaited, the payload delivered within the capacity.
long Request(const RequestForm& form, unsigned short* deviceServiceID, unsigned int commandID,
             unsigned int ulCommandLength, unsigned char* pCommandData, unsigned int* pulResponseLength,
             unsigned char* pResponseData) {
  const char* const name = form.name;
  const bool query = form.kind == RequestKind::kQuery;
  HRESULT hr = OpenCommandSession(deviceServiceID);
  if (Failed(hr)) {
    Fail(form.openFailed, name, hr);
    return kNotSupported;
  }
  if (!g_MbnDeviceServicesContext) {
    if (query) LogLine("%s: g_MbnDeviceServicesContext is NULL.\n", name);
    return kNotSupported;
  }
  if (query) LogLine("%s: deviceServiceID: %ls.\n", name, Wide(deviceServiceID));
  ComPtr<IMbnDeviceService> service;
  hr = GetService(Wide(deviceServiceID), &service);
  if (Failed(hr)) return Fail(form.serviceFailed, name, hr);
  if (query && !pCommandData) LogLine("%s: pCommandData = NULL\n", name);
  if (query && !pResponseData) LogLine("%s: pResponseData = NULL\n", name);
  UniqueSafeArray command;
  if (ulCommandLength != 0) {
    if (query) LogLine("%s: Creating SafeArray for command data\n", name);
    if (!query && pCommandData) ConsoleHexDump("\t Command Data=\n", pCommandData, ulCommandLength);
    hr = CreateByteArray(pCommandData, ulCommandLength, &command);
    if (query && hr == E_OUTOFMEMORY) LogLine("%s: psaCommandData == NULL\n", name);
    if (Failed(hr)) return hr;  // nothing was sent
  }
  // A query without a length still runs, with no room for a payload; a set's completion would
  // have nowhere to report its length, so it is refused unsent.
  ULONG capacity = 0;
  if (query) {
    if (pulResponseLength) LogLine("%s: setting g_QcMax\n", name);
    else LogLine("%s: pulResponseLength = NULL\n", name);
  } else if (!pulResponseLength) {
    return E_POINTER;
  }
  if (pulResponseLength) capacity = *pulResponseLength;
  {
    CompletionSlots& c = Completions();
    std::lock_guard<std::mutex> lock(c.lock);
    if (query) c.g_QcMax = capacity;
    const ResponseSlot slot = ResponseOf(c, form.kind);
    *slot.length = 0;
    *slot.overflow = false;
  }
  RequestScope scope(form.kind);
  ULONG request = 0;
  hr = form.issue(service.get(), commandID, command.get(), &request);
  if (Failed(hr) && hr != E_PENDING) return Fail(form.issueFailed, name, hr);
  scope.Publish(request);
  LogLine(form.issued, name, static_cast<int>(request));
  const DWORD wait = WaitFor(EventOf(form.kind));
  if (wait != WAIT_OBJECT_0) return WaitResultToHresult(wait);
  CompletionSlots& c = Completions();
  std::lock_guard<std::mutex> lock(c.lock);
  const ResponseSlot slot = ResponseOf(c, form.kind);
  return Deliver(name, c.g_MbnStatus, slot.bytes, *slot.length, *slot.overflow, capacity, pResponseData,
                 pulResponseLength);
}

}  // namespace

}  // namespace vexel

using namespace vexel;
using namespace plat;

long EnumInterface(long* count, _MBIMIDS* ids) {
  static const char* const kName = "EnumInterface";
  if (!count) return E_POINTER;
  *count = 0;
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (Succeeded(hr) || hr == RPC_E_CHANGED_MODE)
    hr = CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                          g_InterfaceMgr.put_void());
  if (Failed(hr) && hr != RPC_E_CHANGED_MODE) return Fail("%s: Initialize FAILED\n", kName, hr);
  UniqueSafeArray interfaces;
  hr = g_InterfaceMgr->GetInterfaces(interfaces.put());
  if (Failed(hr)) return Fail("%s: GetInterfaces FAILED\n", kName, hr);
  // CopyArrayOfInterfaces: every element's id parsed into a GUID; unreadable ones are skipped.
  std::vector<GUID> guids;
  LONG lower = 0;
  LONG upper = -1;
  hr = interfaces ? SafeArrayGetLBound(interfaces.get(), 1, &lower) : S_OK;
  if (Succeeded(hr) && interfaces) hr = SafeArrayGetUBound(interfaces.get(), 1, &upper);
  HRESULT last_failure = hr;
  if (Succeeded(hr)) {
    for (long long i = lower; i <= upper; ++i) {
      LONG index = static_cast<LONG>(i);
      ComPtr<IUnknown> element;
      HRESULT step = SafeArrayGetElement(interfaces.get(), &index, element.put_void());
      ComPtr<IMbnInterface> mbn;
      if (Succeeded(step)) step = element ? element.As(&mbn) : E_POINTER;
      BStr id;
      if (Succeeded(step)) step = mbn->get_InterfaceID(id.put());
      GUID guid{};
      if (Succeeded(step)) step = IIDFromString(id.get(), &guid);
      if (Failed(step)) {
        last_failure = step;
        continue;
      }
      guids.push_back(guid);
    }
    const bool empty = upper < lower;
    hr = (!guids.empty() || empty) ? S_OK : last_failure;
  }
  if (Failed(hr)) return Fail("%s: CopyArrayOfInterfaces FAILED\n", kName, hr);
  // The caller's array has no stated size: the documented maximum is all it is promised to hold.
  const std::size_t limit = static_cast<std::size_t>(kMaxEnumeratedInterfaces);
  if (guids.size() > limit) {
    LogLine("%s: %d interfaces reported, only the first %d are listed\n", kName, static_cast<int>(guids.size()),
            kMaxEnumeratedInterfaces);
    guids.resize(limit);
  }
  long written = 0;
  for (const GUID& guid : guids) {
    char16_t* text = nullptr;
    hr = StringFromIID(guid, &text);
    if (Failed(hr)) return Fail("%s: StringFromIID FAILED\n", kName, hr);
    if (ids) {
      _MBIMIDS& out = ids[written];
      const std::size_t n = std::min(WideLength(text), kIdChars - 1);
      std::copy(text, text + n, out.InterfaceID);
      std::fill(out.InterfaceID + n, out.InterfaceID + kIdChars, u'\0');
    }
    CoTaskMemFree(text);
    ++written;
  }
  *count = written;
  return S_OK;
}

long ConnectInterface(unsigned short* interfaceID) {
  static const char* const kName = "ConnectInterface";
  if (bInterfaceConnected) {
    LogLine("%s: bInterfaceConnected is already TRUE\n", kName);
    return S_OK;
  }
  HRESULT hr = Initialize();
  if (Failed(hr) && hr != RPC_E_CHANGED_MODE) return Fail("%s: Initialize FAILED\n", kName, hr);
  hr = CreateGlobalEvent();
  if (Failed(hr)) return Fail("%s: CreateGlobalEvent FAILED\n", kName, hr);
  if (g_CMbnSinks) {
    ComPtr<IConnectionPointContainer> container;
    hr = g_MbnDeviceServicesManager ? g_MbnDeviceServicesManager.As(&container) : E_POINTER;
    if (Failed(hr)) return Fail("%s: g_MbnDeviceServicesManager->QueryInterface FAILED\n", kName, hr);
    hr = container->FindConnectionPoint(IID_IMbnDeviceServicesEvents, pDeviceServiceEventsConnectionPoint.put());
    if (Failed(hr)) return Fail("%s: IID_IMbnDeviceServicesEvents FindConnectionPoint FAILED\n", kName, hr);
    BStr id(Wide(interfaceID));
    hr = g_MbnDeviceServicesManager->GetDeviceServicesContext(id.get(), g_MbnDeviceServicesContext.put());
    if (Failed(hr)) return Fail("%s: g_MbnDeviceServicesManager->GetDeviceServicesContext FAILED\n", kName, hr);
    // This reference is the sink's own while it is advised; DisconnectInterface gives it back.
    IUnknown* sink = nullptr;
    hr = g_CMbnSinks->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&sink));
    if (Failed(hr)) return Fail("%s: g_CMbnSinks->QueryInterface FAILED\n", kName, hr);
    hr = pDeviceServiceEventsConnectionPoint->Advise(sink, &g_dwAdviseCookie);
    g_sinkAdvised = Succeeded(hr);
    if (Failed(hr)) return Fail("%s: pDeviceServiceEventsConnectionPoint Advise FAILED\n", kName, hr);
  } else {
    LogLine("%s: g_CMbnSinks is FALSE\n", kName);
  }
  if (!g_pMbnInterface) {
    hr = g_InterfaceMgr ? g_InterfaceMgr->GetInterface(Wide(interfaceID), g_pMbnInterface.put()) : E_POINTER;
    if (Failed(hr)) return Fail("%s: g_InterfaceMgr->GetInterface FAILED: %x\n", kName, hr, Shown::kLastError);
  }
  bInterfaceConnected = TRUE;
  return S_OK;
}

int DisconnectInterface() {
  if (bInterfaceConnected) {
    for (SessionEntry& e : g_SessionTable) {
      if (e.bInUse && e.bSessionOpen) {
        char16_t id[kIdChars];
        std::memcpy(id, e.deviceServiceID, sizeof id);
        CloseCommandSession(reinterpret_cast<unsigned short*>(id));
      }
    }
  }
  HRESULT result = S_OK;
  if (pDeviceServiceEventsConnectionPoint) {
    result = pDeviceServiceEventsConnectionPoint->Unadvise(g_dwAdviseCookie);
    if (Succeeded(result)) g_sinkAdvised = false;
    pDeviceServiceEventsConnectionPoint = nullptr;
  }
  if (g_CMbnSinks) {
    g_CMbnSinks->Release();
    // A sink the platform may still call (its Unadvise failed) is left alive rather than freed
    // under a late callback.
    if (!g_sinkAdvised) delete g_CMbnSinks;
    g_CMbnSinks = nullptr;
    g_sinkAdvised = false;
  }
  g_hOpenSessionEvent.reset();
  g_hCloseSessionEvent.reset();
  g_hQueryEvent.reset();
  g_hSetEvent.reset();
  bInterfaceConnected = FALSE;
  bInitialied = FALSE;
  g_pMbnInterface = nullptr;
  g_MbnDeviceServicesContext = nullptr;
  g_MbnDeviceServicesManager = nullptr;
  g_ConnectionMgr = nullptr;
  g_ConnectionProfileMgr = nullptr;
  {
    std::lock_guard<std::mutex> lock(Completions().lock);
    Completions().g_MbnStatus = S_OK;
  }
  CoUninitialize();
  return result;
}

long OpenCommandSession(unsigned short* deviceServiceID) {
  static const char* const kName = "OpenCommandSession";
  if (!g_MbnDeviceServicesContext) return Fail("%s: g_MbnDeviceServicesContext is NULL\n", kName, kNotSupported);
  ComPtr<IMbnDeviceService> service;
  HRESULT hr = GetService(Wide(deviceServiceID), &service);
  if (Failed(hr)) return Fail("%s: GetDeviceService FAILED: 0x%X\n", kName, hr);
  BOOL open = FALSE;
  hr = service->get_IsCommandSessionOpen(&open);
  if (Failed(hr) && hr != E_PENDING) return Fail("%s: get_IsCommandSessionOpen FAILED: 0x%X\n", kName, hr);
  if (open) return hr;  // someone else's session: used as it is, not recorded, not closed by us
  RequestScope scope(RequestKind::kOpenSession);
  ULONG request = 0;
  hr = service->OpenCommandSession(&request);
  if (Failed(hr) && hr != E_PENDING) return Fail("%s: OpenCommandSession FAILED: 0x%X\n", kName, hr);
  scope.Publish(request);
  LogLine("%s: OpenCommandSession call successful... waiting for callback\n", kName);
  const DWORD wait = WaitFor(g_hOpenSessionEvent);
  if (wait != WAIT_OBJECT_0) return WaitResultToHresult(wait);
  const HRESULT status = StatusNow();
  if (Failed(status)) return Fail("%s: g_MbnStatus FAILED: 0x%X\n", kName, status);
  const char16_t* id = Wide(deviceServiceID);
  for (SessionEntry& e : g_SessionTable) {
    if (e.bInUse) continue;
    const std::size_t n = std::min(WideLength(id), kIdChars - 1);
    std::fill(std::begin(e.deviceServiceID), std::end(e.deviceServiceID), u'\0');
    std::copy(id, id + n, e.deviceServiceID);
    e.bInUse = TRUE;
    e.bSessionOpen = TRUE;
    break;
  }
  return status;
}

int CloseCommandSession(unsigned short* deviceServiceID) {
  static const char* const kName = "CloseCommandSession";
  if (!g_MbnDeviceServicesContext) return 0;
  ComPtr<IMbnDeviceService> service;
  HRESULT hr = GetService(Wide(deviceServiceID), &service);
  if (Failed(hr)) {
    Fail("%s: GetDeviceService FAILED\n", kName, hr);
    return 0;
  }
  BOOL open = FALSE;
  hr = service->get_IsCommandSessionOpen(&open);
  if (Failed(hr) && hr != E_PENDING) {
    Fail("%s: get_IsCommandSessionOpen FAILED\n", kName, hr);
    return 0;
  }
  // A pending answer lets the close go on, but the call cannot then claim success.
  const bool pending = hr == E_PENDING;
  if (!open) return pending ? 0 : 1;
  LogLine("%s: calling CloseCommandSession\n", kName);
  RequestScope scope(RequestKind::kCloseSession);
  ULONG request = 0;
  hr = service->CloseCommandSession(&request);
  if (Failed(hr) && hr != E_PENDING) {
    Fail("%s: CloseCommandSession call Failed\n", kName, hr);
    return 0;
  }
  scope.Publish(request);
  LogLine("%s: CloseCommandSession call successful... waiting for callback\n", kName);
  const DWORD wait = WaitFor(g_hCloseSessionEvent);
  if (wait != WAIT_OBJECT_0) {
    Fail("%s: WAIT_OBJECT_0 FAILED\n", kName, WaitResultToHresult(wait));
    return 0;
  }
  const HRESULT status = StatusNow();
  if (Failed(status)) {
    Fail("%s: g_MbnStatus FAILED: 0x%X\n", kName, status);
    return 0;
  }
  const char16_t* id = Wide(deviceServiceID);
  for (SessionEntry& e : g_SessionTable) {
    if (e.bInUse && SameId(e.deviceServiceID, id)) {
      e.bSessionOpen = FALSE;
      break;
    }
  }
  return pending ? 0 : 1;
}

long QueryCommand(unsigned short* interfaceID, unsigned short* deviceServiceID, unsigned int commandID,
                  unsigned int ulCommandLength, unsigned char* pCommandData, unsigned int* pulResponseLength,
                  unsigned char* pResponseData) {
  (void)interfaceID;  // the connected interface serves every request
  return Request(kQueryForm, deviceServiceID, commandID, ulCommandLength, pCommandData, pulResponseLength,
                 pResponseData);
}

long SetCommand(unsigned short* interfaceID, unsigned short* deviceServiceID, unsigned int commandID,
                unsigned int ulCommandLength, unsigned char* pCommandData, unsigned int* pulResponseLength,
                unsigned char* pResponseData) {
  (void)interfaceID;
  return Request(kSetForm, deviceServiceID, commandID, ulCommandLength, pCommandData, pulResponseLength,
                 pResponseData);
}
