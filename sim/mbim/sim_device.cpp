#include "sim/mbim/sim_device.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/bytes.h"
#include "platform/com.h"
#include "platform/mbim_status.h"
#include "platform/mbn.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "sim/com_object.h"

namespace sim::mbim {

namespace {

using plat::HRESULT;
using plat::ULONG;

// How long a command waits for the modem's completion. A completion the modem drops never comes;
// the host then hears nothing, as from a real modem, and gives up on its own time-out.
constexpr plat::DWORD kCompletionWaitMs = 10000;

struct Completed {
  HRESULT status = plat::S_OK;
  Bytes payload;
};

// Hands each completion to the command waiting for its request id.
class Sink final : public ComObject<plat::IMbnDeviceServicesEvents> {
 public:
  using Service = plat::IMbnDeviceService;
  using Array = plat::SAFEARRAY;
  HRESULT TXL_STDCALL OnQuerySupportedCommandsComplete(Service*, Array*, HRESULT, ULONG) override { return plat::S_OK; }
  HRESULT TXL_STDCALL OnOpenCommandSessionComplete(Service*, HRESULT st, ULONG id) override { return Put(id, st, nullptr); }
  HRESULT TXL_STDCALL OnCloseCommandSessionComplete(Service*, HRESULT st, ULONG id) override { return Put(id, st, nullptr); }
  HRESULT TXL_STDCALL OnSetCommandComplete(Service*, ULONG, Array* a, HRESULT st, ULONG id) override { return Put(id, st, a); }
  HRESULT TXL_STDCALL OnQueryCommandComplete(Service*, ULONG, Array* a, HRESULT st, ULONG id) override { return Put(id, st, a); }
  HRESULT TXL_STDCALL OnEventNotification(Service*, ULONG, Array*) override { return plat::S_OK; }
  HRESULT TXL_STDCALL OnOpenDataSessionComplete(Service*, HRESULT, ULONG) override { return plat::S_OK; }
  HRESULT TXL_STDCALL OnCloseDataSessionComplete(Service*, HRESULT, ULONG) override { return plat::S_OK; }
  HRESULT TXL_STDCALL OnWriteDataComplete(Service*, HRESULT, ULONG) override { return plat::S_OK; }
  HRESULT TXL_STDCALL OnReadData(Service*, Array*) override { return plat::S_OK; }
  HRESULT TXL_STDCALL OnInterfaceStateChange(plat::BSTR, plat::MBN_DEVICE_SERVICES_INTERFACE_STATE) override {
    return plat::S_OK;
  }

  // The completion of request `id`, or nothing once the wait is over.
  std::optional<Completed> Wait(ULONG id) {
    std::unique_lock<std::mutex> lock(mu_);
    const bool came = cv_.wait_for(lock, std::chrono::milliseconds(plat::Timeout::RoundTrip(kCompletionWaitMs).Scaled()),
                                   [&] { return done_.count(id) != 0; });
    if (!came) return std::nullopt;
    Completed c = std::move(done_[id]);
    done_.erase(id);
    return c;
  }
  // A request the modem will not complete (it refused it): nothing to keep for it.
  void Forget(ULONG id) {
    std::lock_guard<std::mutex> lock(mu_);
    done_.erase(id);
  }

 private:
  HRESULT Put(ULONG id, HRESULT status, Array* array) {
    Completed c;
    c.status = status;
    if (array) plat::ReadByteArray(array, &c.payload);
    {
      std::lock_guard<std::mutex> lock(mu_);
      done_[id] = std::move(c);
    }
    cv_.notify_all();
    return plat::S_OK;
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<ULONG, Completed> done_;
};

// The services the simulated modem may offer, and the commands of each.
struct KnownService {
  const char16_t* id;
  std::vector<std::uint32_t> cids;
};
const KnownService kKnownServices[] = {
    {u"{68223D04-9F6C-4E0F-822D-28441FB72340}", {1, 2}},  // MS SAR: configuration, transmission status
    {u"{e10ff51b-ac2d-4104-86f6-8d621b430189}", {1}},     // NVM access
    {u"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}", {1}},     // AT tunnel
    {u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}", {1}},     // AT command service
};

// A known service in the spelling the suite's own libraries use, so that the modem's trace reads
// the same whichever way the suite reaches it; any other in braces, lower case.
std::u16string ServiceText(const Uuid& u) {
  for (const KnownService& k : kKnownServices) {
    plat::GUID guid{};
    if (plat::GuidFromString(k.id, &guid) && plat::GuidToBytes(guid) == u) return k.id;
  }
  return u"{" + plat::Utf8ToUtf16(UuidText(u)) + u"}";
}

// A UTF-16LE string appended to a basic-connect answer, 4-byte aligned; its offset and size land
// at `pair` (offsets from the start of the information buffer).
void AppendString(Bytes& out, std::size_t pair, const plat::BSTR text) {
  const std::size_t chars = text ? plat::SysStringLen(text) : 0;
  if (chars == 0) return;  // offset 0, size 0
  while (out.size() % 4) out.push_back(0);
  plat::LeWriter(out).U32(pair, static_cast<std::uint32_t>(out.size())).U32(pair + 4, static_cast<std::uint32_t>(chars * 2));
  for (std::size_t i = 0; i < chars; ++i) plat::AppendU16(out, static_cast<std::uint16_t>(text[i]));
}

CommandReply Failure(HRESULT hr) {
  CommandReply r;
  r.status = static_cast<Status>(plat::MbimStatusFromHresult(hr));
  return r;
}

}  // namespace

struct SimDevice::State {
  plat::ComPtr<plat::IMbnInterfaceManager> interfaces;
  plat::ComPtr<plat::IMbnInterface> iface;
  plat::ComPtr<plat::IMbnDeviceServicesManager> manager;
  plat::ComPtr<plat::IMbnDeviceServicesContext> context;
  plat::ComPtr<plat::IConnectionPoint> point;
  plat::ComPtr<Sink> sink;
  plat::DWORD cookie = 0;
  bool advised = false;
  std::map<std::u16string, plat::ComPtr<plat::IMbnDeviceService>> open;  // sessions opened for the host

  HRESULT Connect() {
    if (context) return plat::S_OK;
    HRESULT hr = plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, nullptr, plat::CLSCTX_ALL,
                                        plat::IMbnInterfaceManager::kIid, interfaces.put_void());
    if (plat::Failed(hr)) return hr;
    plat::UniqueSafeArray list;
    hr = interfaces->GetInterfaces(list.put());
    if (plat::Failed(hr)) return hr;
    plat::LONG lower = 0;
    plat::LONG upper = -1;
    if (!list || plat::Failed(plat::SafeArrayGetLBound(list.get(), 1, &lower)) ||
        plat::Failed(plat::SafeArrayGetUBound(list.get(), 1, &upper)) || upper < lower)
      return plat::E_FAIL;  // no modem interface
    hr = plat::SafeArrayGetElement(list.get(), &lower, iface.put_void());
    if (plat::Failed(hr) || !iface) return plat::Failed(hr) ? hr : plat::E_FAIL;
    hr = plat::CoCreateInstance(plat::CLSID_MbnDeviceServicesManager, nullptr, plat::CLSCTX_ALL,
                                plat::IMbnDeviceServicesManager::kIid, manager.put_void());
    if (plat::Failed(hr)) return hr;
    plat::ComPtr<plat::IConnectionPointContainer> container;
    hr = manager.As(&container);
    if (plat::Succeeded(hr)) hr = container->FindConnectionPoint(plat::IID_IMbnDeviceServicesEvents, point.put());
    if (plat::Failed(hr)) return hr;
    sink = MakeCom<Sink>();
    hr = point->Advise(static_cast<plat::IUnknown*>(sink.get()), &cookie);
    if (plat::Failed(hr)) return hr;
    advised = true;
    plat::BStr id;
    hr = iface->get_InterfaceID(id.put());
    if (plat::Succeeded(hr)) hr = manager->GetDeviceServicesContext(id.get(), context.put());
    return hr;
  }

  // Runs one request and waits for its completion. No completion: nullopt.
  template <class Submit>
  std::optional<Completed> Request(Submit submit) {
    ULONG id = 0;
    const HRESULT hr = submit(&id);
    if (plat::Failed(hr)) {
      sink->Forget(id);
      return Completed{hr, {}};
    }
    return sink->Wait(id);
  }

  // The service's command session, opened for the host on its first command.
  HRESULT Session(const std::u16string& id, plat::ComPtr<plat::IMbnDeviceService>* out) {
    if (auto it = open.find(id); it != open.end()) {
      *out = it->second;
      return plat::S_OK;
    }
    plat::ComPtr<plat::IMbnDeviceService> service;
    plat::BStr bid(id.c_str());
    HRESULT hr = context->GetDeviceService(bid.get(), service.put());
    if (plat::Failed(hr)) return hr;
    const auto opened = Request([&](ULONG* rid) { return service->OpenCommandSession(rid); });
    if (!opened) return plat::HresultFromWin32(1460);  // ERROR_TIMEOUT
    if (plat::Failed(opened->status)) return opened->status;
    open[id] = service;
    *out = service;
    return plat::S_OK;
  }

  void CloseAll() {
    for (auto& entry : open) {
      plat::IMbnDeviceService* service = entry.second.get();
      Request([&](ULONG* rid) { return service->CloseCommandSession(rid); });
    }
    open.clear();
  }
};

SimDevice::SimDevice() : state_(std::make_unique<State>()) {}

SimDevice::~SimDevice() {
  state_->CloseAll();
  if (state_->advised) state_->point->Unadvise(state_->cookie);
}

void SimDevice::HostGone() { state_->CloseAll(); }

CommandReply SimDevice::Command(const Uuid& service, std::uint32_t cid, CommandType type, const Bytes& information) {
  State& s = *state_;
  if (const HRESULT hr = s.Connect(); plat::Failed(hr)) return Failure(hr);

  if (service == kBasicConnect) {
    CommandReply r;
    if (type != CommandType::kQuery) return Failure(plat::E_NOTIMPL);
    if (cid == kCidDeviceCaps) {
      plat::MBN_INTERFACE_CAPS caps{};
      if (const HRESULT hr = s.iface->GetInterfaceCapability(&caps); plat::Failed(hr)) return Failure(hr);
      Bytes& out = r.information;
      out.assign(64, 0);
      plat::LeWriter(out)
          .U32(0, 1)  // embedded
          .U32(4, static_cast<std::uint32_t>(caps.cellularClass))
          .U32(8, static_cast<std::uint32_t>(caps.voiceClass))
          .U32(12, 2)  // removable SIM
          .U32(16, caps.dataClass)
          .U32(20, caps.smsCaps)
          .U32(24, caps.controlCaps)
          .U32(28, 1);  // sessions
      AppendString(out, 32, caps.customDataClass);
      AppendString(out, 40, caps.deviceID);
      AppendString(out, 48, caps.firmwareInfo);
      AppendString(out, 56, caps.model);  // the hardware information: the module's model
      plat::FreeInterfaceCaps(&caps);
      return r;
    }
    if (cid == kCidSubscriberReadyStatus) {
      plat::MBN_READY_STATE ready = plat::MBN_READY_STATE_OFF;
      if (const HRESULT hr = s.iface->GetReadyState(&ready); plat::Failed(hr)) return Failure(hr);
      r.information.assign(28, 0);  // no telephone numbers
      plat::LeWriter(r.information).U32(0, static_cast<std::uint32_t>(ready));
      plat::ComPtr<plat::IMbnSubscriberInformation> subscriber;
      if (plat::Succeeded(s.iface->GetSubscriberInformation(subscriber.put())) && subscriber) {
        plat::BStr id, iccid;
        if (plat::Succeeded(subscriber->get_SubscriberID(id.put()))) AppendString(r.information, 4, id.get());
        if (plat::Succeeded(subscriber->get_SimIccID(iccid.put()))) AppendString(r.information, 12, iccid.get());
      }
      return r;
    }
    if (cid == kCidDeviceServices) {
      struct Offered {
        Uuid id;
        std::vector<std::uint32_t> cids;
      };
      std::vector<Offered> offered{{kBasicConnect, {kCidDeviceCaps, kCidSubscriberReadyStatus, kCidDeviceServices}}};
      for (const KnownService& k : kKnownServices) {
        plat::ComPtr<plat::IMbnDeviceService> probe;
        plat::BStr id(k.id);
        plat::GUID guid{};
        if (plat::Succeeded(s.context->GetDeviceService(id.get(), probe.put())) && plat::GuidFromString(k.id, &guid))
          offered.push_back({plat::GuidToBytes(guid), k.cids});
      }
      Bytes& out = r.information;
      out.assign(8 + 8 * offered.size(), 0);
      plat::LeWriter(out).U32(0, static_cast<std::uint32_t>(offered.size())).U32(4, 0);
      for (std::size_t i = 0; i < offered.size(); ++i) {
        const std::size_t at = out.size();
        out.insert(out.end(), offered[i].id.begin(), offered[i].id.end());
        plat::AppendU32(out, 0);  // no data-stream payload
        plat::AppendU32(out, 0);  // no data-stream instances
        plat::AppendU32(out, static_cast<std::uint32_t>(offered[i].cids.size()));
        for (std::uint32_t c : offered[i].cids) plat::AppendU32(out, c);
        plat::LeWriter(out).U32(8 + 8 * i, static_cast<std::uint32_t>(at)).U32(12 + 8 * i,
                                                                          static_cast<std::uint32_t>(out.size() - at));
      }
      return r;
    }
    return Failure(plat::E_NOTIMPL);
  }

  plat::ComPtr<plat::IMbnDeviceService> device_service;
  if (const HRESULT hr = s.Session(ServiceText(service), &device_service); plat::Failed(hr)) {
    // A service the modem does not offer.
    if (hr == plat::HresultFromWin32(plat::ERROR_NOT_FOUND)) {
      CommandReply r;
      r.status = Status::kNoDeviceSupport;
      return r;
    }
    return Failure(hr);
  }
  plat::UniqueSafeArray array;
  if (const HRESULT hr = plat::CreateByteArray(information.data(), static_cast<ULONG>(information.size()), &array);
      plat::Failed(hr))
    return Failure(hr);
  const auto done = s.Request([&](ULONG* rid) {
    return type == CommandType::kSet ? device_service->SetCommand(cid, array.get(), rid)
                                     : device_service->QueryCommand(cid, array.get(), rid);
  });
  CommandReply r;
  if (!done) {
    r.silent = true;
    return r;
  }
  r.status = static_cast<Status>(plat::MbimStatusFromHresult(done->status));
  r.information = done->payload;
  return r;
}

}  // namespace sim::mbim
