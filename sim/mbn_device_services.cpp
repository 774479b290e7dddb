// The simulated notebook's device services: the device-services manager and context, the device
// services, and the completions of their requests, delivered on the simulator's dispatcher thread.
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/text.h"
#include "sim/com_object.h"
#include "sim/mbn_objects.h"
#include "sim/runtime.h"
#include "sim/sim.h"

namespace sim::mbn {

namespace {

// The modem answers for all of its fragments at once: every response is the first and only one.
constexpr ULONG kResponseId = 0;

// A completion that carries another request id than the request returned: far from any id the
// process will hand out.
constexpr std::uint32_t kMismatchOffset = 0x40000000u;

// The command-session requests come first, in the order of ServiceOp.
enum class Request { kOpen, kClose, kQuery, kSet, kOpenData, kCloseData, kWriteData };
static_assert(static_cast<int>(Request::kOpen) == static_cast<int>(ServiceOp::kOpen) &&
              static_cast<int>(Request::kSet) == static_cast<int>(ServiceOp::kSet));

// The names tests read in the recorded requests, in the order of Request.
constexpr const char* kRequestNames[] = {"open", "close", "query", "set", "open_data", "close_data", "write_data"};
static_assert(std::size(kRequestNames) == static_cast<std::size_t>(Request::kWriteData) + 1);

const char* RequestName(Request r) { return kRequestNames[static_cast<std::size_t>(r)]; }

class DeviceService;

// One request's completion, worked out and delivered on the dispatcher thread.
class ServiceCompletion final : public Completion {
 public:
  ServiceCompletion(plat::ComPtr<DeviceService> service, Request request, std::uint32_t cid,
                    std::vector<std::uint8_t> data, std::uint32_t reported_id)
      : service_(std::move(service)), request_(request), cid_(cid), data_(std::move(data)), reported_id_(reported_id) {}

  // The injected faults: the completion carries this status (and no data), or S_OK without data.
  void Fail(HRESULT status) { fail_ = status; }
  void Empty() { empty_ = true; }

  std::uint32_t Prepare() override;
  void Deliver() override;

 private:
  plat::ComPtr<DeviceService> service_;
  Request request_;
  std::uint32_t cid_;
  std::vector<std::uint8_t> data_;
  std::uint32_t reported_id_;
  std::optional<HRESULT> fail_;
  bool empty_ = false;
  ServiceReply reply_;
};

class DeviceService final : public ComObject<plat::IMbnDeviceService> {
 public:
  DeviceService(std::shared_ptr<const Modem> modem, std::shared_ptr<SinkList> sinks, std::u16string iface,
                std::u16string id, ServiceKind kind)
      : modem_(std::move(modem)), sinks_(std::move(sinks)), iface_(std::move(iface)), id_(std::move(id)), kind_(kind) {}

  HRESULT TXL_STDCALL QuerySupportedCommands(ULONG* requestID) override {
    if (requestID) *requestID = 0;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL OpenCommandSession(ULONG* requestID) override {
    return Submit(Request::kOpen, 0, nullptr, requestID);
  }
  HRESULT TXL_STDCALL CloseCommandSession(ULONG* requestID) override {
    return Submit(Request::kClose, 0, nullptr, requestID);
  }
  HRESULT TXL_STDCALL SetCommand(ULONG commandID, plat::SAFEARRAY* data, ULONG* requestID) override {
    return Submit(Request::kSet, commandID, data, requestID);
  }
  HRESULT TXL_STDCALL QueryCommand(ULONG commandID, plat::SAFEARRAY* data, ULONG* requestID) override {
    return Submit(Request::kQuery, commandID, data, requestID);
  }
  HRESULT TXL_STDCALL OpenDataSession(ULONG* requestID) override {
    return Submit(Request::kOpenData, 0, nullptr, requestID);
  }
  HRESULT TXL_STDCALL CloseDataSession(ULONG* requestID) override {
    return Submit(Request::kCloseData, 0, nullptr, requestID);
  }
  HRESULT TXL_STDCALL WriteData(plat::SAFEARRAY* data, ULONG* requestID) override {
    return Submit(Request::kWriteData, 0, data, requestID);
  }
  HRESULT TXL_STDCALL get_InterfaceID(BSTR* InterfaceID) override { return OutString(iface_, InterfaceID); }
  HRESULT TXL_STDCALL get_DeviceServiceID(BSTR* DeviceServiceID) override { return OutString(id_, DeviceServiceID); }
  HRESULT TXL_STDCALL get_IsCommandSessionOpen(plat::BOOL* value) override {
    if (!value) return plat::E_POINTER;
    *value = CommandSessionOpen() ? plat::TRUE : plat::FALSE;
    return plat::S_OK;
  }
  HRESULT TXL_STDCALL get_IsDataSessionOpen(plat::BOOL* value) override {
    if (!value) return plat::E_POINTER;
    *value = Session(iface_, kind_).data_open ? plat::TRUE : plat::FALSE;
    return plat::S_OK;
  }

  bool CommandSessionOpen() const {
    return modem_->config.faults.session_open[Index(kind_)] || Session(iface_, kind_).command_open;
  }
  const Modem& modem() const { return *modem_; }
  ServiceKind kind() const { return kind_; }
  const std::u16string& iface() const { return iface_; }
  SinkList& sinks() const { return *sinks_; }

 private:
  HRESULT Submit(Request request, ULONG cid, plat::SAFEARRAY* array, ULONG* requestID) {
    return Guard([&] { return SubmitUnguarded(request, cid, array, requestID); });
  }

  HRESULT SubmitUnguarded(Request request, ULONG cid, plat::SAFEARRAY* array, ULONG* requestID) {
    if (!requestID) return plat::E_POINTER;
    *requestID = 0;
    std::vector<std::uint8_t> data;
    if (plat::Failed(plat::ReadByteArray(array, &data))) return plat::E_INVALIDARG;
    if (data.size() > (request == Request::kWriteData ? kMaxDataSize : kMaxCommandSize)) return plat::E_INVALIDARG;

    const std::uint32_t id = NextRequestId();
    RecordRequest(*modem_,
                  testing::RecordedRequest{RequestName(request), iface_, id_, cid, array != nullptr, data, id});

    // Faults are injected into command-session requests only.
    const OpFault fault =
        request <= Request::kSet ? modem_->config.Fault(kind_, static_cast<ServiceOp>(request)) : OpFault{};
    *requestID = id;
    if (fault.drop) return plat::S_OK;

    const std::uint32_t reported = modem_->config.faults.request_id_mismatch[Index(kind_)] ? id + kMismatchOffset : id;
    auto completion = std::make_unique<ServiceCompletion>(plat::ComPtr<DeviceService>::Share(this), request, cid,
                                                          std::move(data), reported);
    if (fault.fail)
      completion->Fail(*fault.fail);
    else if (fault.empty)
      completion->Empty();
    PostCompletion(plat::Utf16ToUtf8(iface_) + "/" + std::string(ServiceName(kind_)), modem_->config.faults.latency_ms,
                   std::move(completion));
    return plat::S_OK;
  }

  std::shared_ptr<const Modem> modem_;
  std::shared_ptr<SinkList> sinks_;
  std::u16string iface_;
  std::u16string id_;
  ServiceKind kind_;
};

class DeviceServicesContext final : public ComObject<plat::IMbnDeviceServicesContext> {
 public:
  DeviceServicesContext(std::shared_ptr<const Modem> modem, std::shared_ptr<SinkList> sinks, std::u16string iface)
      : modem_(std::move(modem)), sinks_(std::move(sinks)), iface_(std::move(iface)) {}

  HRESULT TXL_STDCALL EnumerateDeviceServices(plat::SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetDeviceService(BSTR deviceServiceID, plat::IMbnDeviceService** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return plat::E_POINTER;
      *out = nullptr;
      if (!deviceServiceID) return plat::E_INVALIDARG;
      std::u16string id(deviceServiceID, plat::SysStringLen(deviceServiceID));
      const auto kind = ServiceKindFromId(id);
      if (!kind || !modem_->config.HasService(*kind)) return kNotFound;
      return HandOut(MakeCom<DeviceService>(modem_, sinks_, iface_, std::move(id), *kind), out);
    });
  }
  HRESULT TXL_STDCALL get_MaxCommandSize(ULONG* size) override { return OutSize(kMaxCommandSize, size); }
  HRESULT TXL_STDCALL get_MaxDataSize(ULONG* size) override { return OutSize(kMaxDataSize, size); }

 private:
  static HRESULT OutSize(ULONG value, ULONG* out) {
    if (!out) return plat::E_POINTER;
    *out = value;
    return plat::S_OK;
  }

  std::shared_ptr<const Modem> modem_;
  std::shared_ptr<SinkList> sinks_;
  std::u16string iface_;
};

class DeviceServicesManager final : public ConnectionPointContainer<plat::IMbnDeviceServicesManager> {
 public:
  DeviceServicesManager() : ConnectionPointContainer({plat::IID_IMbnDeviceServicesEvents}), modem_(LoadModem()) {}

  HRESULT TXL_STDCALL GetDeviceServicesContext(BSTR networkInterfaceID,
                                               plat::IMbnDeviceServicesContext** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return plat::E_POINTER;
      *out = nullptr;
      if (!networkInterfaceID) return plat::E_INVALIDARG;
      std::u16string iface = FindInterface(
          modem_->config, std::u16string_view(networkInterfaceID, plat::SysStringLen(networkInterfaceID)));
      if (iface.empty()) return kNotFound;
      return HandOut(
          MakeCom<DeviceServicesContext>(modem_, points().Find(plat::IID_IMbnDeviceServicesEvents), std::move(iface)),
          out);
    });
  }

 private:
  std::shared_ptr<const Modem> modem_;
};

// ---- Completions ------------------------------------------------------------------------------------

plat::IMbnDeviceServicesEvents* AsEvents(plat::IUnknown* sink) {
  return static_cast<plat::IMbnDeviceServicesEvents*>(sink);
}

std::uint32_t ServiceCompletion::Prepare() {
  ServiceReply& r = reply_;
  r.has_payload = false;
  if (fail_) {
    r.status = *fail_;
    return 0;
  }
  const bool command = request_ == Request::kQuery || request_ == Request::kSet;
  if (command && !service_->CommandSessionOpen()) {
    r.status = kSessionNotOpen;
    return 0;
  }
  if (request_ == Request::kWriteData && !Session(service_->iface(), service_->kind()).data_open) {
    r.status = kSessionNotOpen;
    return 0;
  }
  if (empty_) {
    r.status = plat::S_OK;
    return 0;
  }
  if (!command && request_ != Request::kWriteData) {
    r.status = plat::S_OK;
    return 0;
  }
  const auto model = ModelFor(service_->modem(), service_->kind());
  try {
    if (request_ == Request::kQuery)
      r = model->Query(cid_, data_);
    else if (request_ == Request::kSet)
      r = model->Set(cid_, data_);
    else
      r = model->WriteData(data_);
  } catch (...) {
    // A model that throws is a modem that fails the command.
    r = ServiceReply{plat::E_FAIL, false, {}, 0};
  }
  return r.delay_ms;
}

void ServiceCompletion::Deliver() {
  const HRESULT status = reply_.status;
  const bool ok = plat::Succeeded(status);
  DeviceService* service = service_.get();
  const ULONG id = reported_id_;
  // The session changes before the sinks hear of it, so a sink sees the new state.
  if (ok && (request_ == Request::kOpen || request_ == Request::kClose))
    SetCommandSession(service->iface(), service->kind(), request_ == Request::kOpen);
  if (ok && (request_ == Request::kOpenData || request_ == Request::kCloseData))
    SetDataSession(service->iface(), service->kind(), request_ == Request::kOpenData);
  plat::UniqueSafeArray payload;
  if (reply_.has_payload)
    payload =
        plat::UniqueSafeArray(plat::MakeByteArray(reply_.payload.data(), static_cast<ULONG>(reply_.payload.size())));
  service->sinks().ForEach([&](plat::IUnknown* sink) {
    plat::IMbnDeviceServicesEvents* events = AsEvents(sink);
    switch (request_) {
      case Request::kOpen:
        events->OnOpenCommandSessionComplete(service, status, id);
        break;
      case Request::kClose:
        events->OnCloseCommandSessionComplete(service, status, id);
        break;
      case Request::kQuery:
        events->OnQueryCommandComplete(service, kResponseId, payload.get(), status, id);
        break;
      case Request::kSet:
        events->OnSetCommandComplete(service, kResponseId, payload.get(), status, id);
        break;
      case Request::kOpenData:
        events->OnOpenDataSessionComplete(service, status, id);
        break;
      case Request::kCloseData:
        events->OnCloseDataSessionComplete(service, status, id);
        break;
      case Request::kWriteData:
        events->OnWriteDataComplete(service, status, id);
        // What the device sends back on the data session follows the write.
        if (ok && payload) events->OnReadData(service, payload.get());
        break;
    }
  });
}

}  // namespace

HRESULT CreateDeviceServicesManager(plat::REFIID iid, void** ppv) {
  return MakeCom<DeviceServicesManager>()->QueryInterface(iid, ppv);
}

}  // namespace sim::mbn
