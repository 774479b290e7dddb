// The mobile-broadband classes of the simulated notebook.
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/text.h"
#include "sim/com_object.h"
#include "sim/runtime.h"
#include "sim/sim.h"

namespace sim {

namespace {

using plat::BSTR;
using plat::HRESULT;
using plat::ULONG;

// The modem answers for all of its fragments at once: every response is the first and only one.
constexpr ULONG kResponseId = 0;

// A completion that carries another request id than the request returned: far from any id the
// process will hand out.
constexpr std::uint32_t kMismatchOffset = 0x40000000u;

// Runs the body of a COM method; nothing thrown inside (out of memory, no thread to be had) leaves
// the method other than as its result.
template <class Body>
HRESULT Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return plat::E_OUTOFMEMORY;
  } catch (...) {
    return plat::E_FAIL;
  }
}

HRESULT OutString(std::u16string_view text, BSTR* out) {
  if (!out) return plat::E_POINTER;
  *out = plat::SysAllocStringLen(text.data(), static_cast<plat::UINT>(text.size()));
  return *out ? plat::S_OK : plat::E_OUTOFMEMORY;
}

BSTR AllocUtf8(const std::string& text) {
  const std::u16string wide = plat::Utf8ToUtf16(text);
  return plat::SysAllocStringLen(wide.data(), static_cast<plat::UINT>(wide.size()));
}

bool SameId(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (plat::AsciiUpper(a[i]) != plat::AsciiUpper(b[i])) return false;
  return true;
}

// The interface of the configured modem whose id is `id` (letter case ignored); empty if none.
std::u16string FindInterface(const ModemConfig& config, std::u16string_view id) {
  for (std::uint32_t i = 0; i < config.interfaces; ++i) {
    std::u16string candidate = InterfaceId(i);
    if (SameId(candidate, id)) return candidate;
  }
  return {};
}

// ---- Interfaces -----------------------------------------------------------------------------------

class SubscriberInformation final : public ComObject<plat::IMbnSubscriberInformation> {
 public:
  explicit SubscriberInformation(std::shared_ptr<const Modem> modem) : modem_(std::move(modem)) {}

  HRESULT TXL_STDCALL get_SubscriberID(BSTR* SubscriberID) override {
    return OutString(plat::Utf8ToUtf16(modem_->config.subscriber_id), SubscriberID);
  }
  HRESULT TXL_STDCALL get_SimIccID(BSTR* SimIccID) override {
    return OutString(plat::Utf8ToUtf16(modem_->config.iccid), SimIccID);
  }
  HRESULT TXL_STDCALL get_TelephoneNumbers(plat::SAFEARRAY** TelephoneNumbers) override {
    if (TelephoneNumbers) *TelephoneNumbers = nullptr;
    return plat::E_NOTIMPL;
  }

 private:
  std::shared_ptr<const Modem> modem_;
};

class Interface final : public ComObject<plat::IMbnInterface> {
 public:
  Interface(std::shared_ptr<const Modem> modem, std::u16string id) : modem_(std::move(modem)), id_(std::move(id)) {}

  HRESULT TXL_STDCALL get_InterfaceID(BSTR* InterfaceID) override { return OutString(id_, InterfaceID); }

  HRESULT TXL_STDCALL GetInterfaceCapability(plat::MBN_INTERFACE_CAPS* caps) override {
    return Guard([&]() -> HRESULT {
      if (!caps) return plat::E_POINTER;
      const ModemConfig& c = modem_->config;
      *caps = plat::MBN_INTERFACE_CAPS{};
      caps->cellularClass = plat::MBN_CELLULAR_CLASS_GSM;
      caps->voiceClass = plat::MBN_VOICE_CLASS_NO_VOICE;
      caps->dataClass = plat::MBN_DATA_CLASS_GPRS | plat::MBN_DATA_CLASS_EDGE | plat::MBN_DATA_CLASS_UMTS |
                        plat::MBN_DATA_CLASS_HSDPA | plat::MBN_DATA_CLASS_HSUPA | plat::MBN_DATA_CLASS_LTE;
      if (!c.custom_data_class.empty()) {
        caps->dataClass |= plat::MBN_DATA_CLASS_CUSTOM;
        caps->customDataClass = AllocUtf8(c.custom_data_class);
      }
      caps->gsmBandClass = 0x0000019Fu;  // bands I, II, IV, V, VIII and more
      caps->smsCaps = 0x3;               // PDU receive and send
      caps->controlCaps = 0x3;           // manual registration, hardware radio switch
      caps->deviceID = AllocUtf8(c.imei);
      caps->manufacturer = AllocUtf8(c.manufacturer);
      caps->model = AllocUtf8(c.model);
      caps->firmwareInfo = AllocUtf8(c.firmware);
      if (!caps->deviceID || !caps->manufacturer || !caps->model || !caps->firmwareInfo) {
        plat::FreeInterfaceCaps(caps);
        return plat::E_OUTOFMEMORY;
      }
      return plat::S_OK;
    });
  }

  HRESULT TXL_STDCALL GetSubscriberInformation(plat::IMbnSubscriberInformation** out) override {
    return HandOut(MakeCom<SubscriberInformation>(modem_), out);
  }
  HRESULT TXL_STDCALL GetReadyState(plat::MBN_READY_STATE* readyState) override {
    if (!readyState) return plat::E_POINTER;
    *readyState = static_cast<plat::MBN_READY_STATE>(modem_->config.ready_state);
    return plat::S_OK;
  }
  HRESULT TXL_STDCALL InEmergencyMode(plat::VARIANT_BOOL*) override { return plat::E_NOTIMPL; }
  HRESULT TXL_STDCALL GetHomeProvider(plat::MBN_PROVIDER*) override { return plat::E_NOTIMPL; }
  HRESULT TXL_STDCALL GetPreferredProviders(plat::SAFEARRAY** out) override { return NoArray(out); }
  HRESULT TXL_STDCALL SetPreferredProviders(plat::SAFEARRAY*, ULONG*) override { return plat::E_NOTIMPL; }
  HRESULT TXL_STDCALL GetVisibleProviders(ULONG*, plat::SAFEARRAY** out) override { return NoArray(out); }
  HRESULT TXL_STDCALL ScanNetwork(ULONG*) override { return plat::E_NOTIMPL; }
  HRESULT TXL_STDCALL GetConnection(plat::IMbnConnection** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }

 private:
  static HRESULT NoArray(plat::SAFEARRAY** out) {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }

  std::shared_ptr<const Modem> modem_;
  std::u16string id_;
};

class InterfaceManager final : public ComObject<plat::IMbnInterfaceManager, plat::IConnectionPointContainer> {
 public:
  InterfaceManager()
      : modem_(LoadModem()),
        points_({plat::IID_IMbnInterfaceManagerEvents, plat::IID_IMbnInterfaceEvents, plat::IID_IMbnSignalEvents,
                 plat::IID_IMbnRegistrationEvents, plat::IID_IMbnRadioEvents}) {}

  HRESULT TXL_STDCALL GetInterface(const char16_t* interfaceID, plat::IMbnInterface** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return plat::E_POINTER;
      *out = nullptr;
      if (!interfaceID) return plat::E_INVALIDARG;
      std::u16string id =
          FindInterface(modem_->config, std::u16string_view(interfaceID, plat::WideLength(interfaceID)));
      if (id.empty()) return kNotFound;
      return HandOut(MakeCom<Interface>(modem_, std::move(id)), out);
    });
  }

  HRESULT TXL_STDCALL GetInterfaces(plat::SAFEARRAY** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return plat::E_POINTER;
      *out = nullptr;
      if (modem_->config.faults.get_interfaces) return *modem_->config.faults.get_interfaces;
      plat::SAFEARRAYBOUND bound{modem_->config.interfaces, 0};
      plat::UniqueSafeArray array(plat::SafeArrayCreate(plat::VT_UNKNOWN, 1, &bound));
      if (!array) return plat::E_OUTOFMEMORY;
      for (std::uint32_t i = 0; i < modem_->config.interfaces; ++i) {
        auto item = MakeCom<Interface>(modem_, InterfaceId(i));
        plat::LONG index = static_cast<plat::LONG>(i);
        const HRESULT hr =
            plat::SafeArrayPutElement(array.get(), &index, static_cast<plat::IMbnInterface*>(item.get()));
        if (plat::Failed(hr)) return hr;
      }
      *out = array.release();
      return plat::S_OK;
    });
  }

  HRESULT TXL_STDCALL EnumConnectionPoints(plat::IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL FindConnectionPoint(plat::REFIID riid, plat::IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(this, riid, ppCP);
  }

 private:
  std::shared_ptr<const Modem> modem_;
  ConnectionPoints points_;
};

// ---- Device services ------------------------------------------------------------------------------

// The command-session requests come first, in the order of ServiceOp.
enum class Request { kOpen, kClose, kQuery, kSet, kOpenData, kCloseData, kWriteData };
static_assert(static_cast<int>(Request::kOpen) == static_cast<int>(ServiceOp::kOpen) &&
              static_cast<int>(Request::kSet) == static_cast<int>(ServiceOp::kSet));

const char* RequestName(Request r) {
  switch (r) {
    case Request::kOpen:
      return "open";
    case Request::kClose:
      return "close";
    case Request::kQuery:
      return "query";
    case Request::kSet:
      return "set";
    case Request::kOpenData:
      return "open_data";
    case Request::kCloseData:
      return "close_data";
    case Request::kWriteData:
      return "write_data";
  }
  return "";
}

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

class DeviceServicesManager final : public ComObject<plat::IMbnDeviceServicesManager, plat::IConnectionPointContainer> {
 public:
  DeviceServicesManager() : modem_(LoadModem()), points_({plat::IID_IMbnDeviceServicesEvents}) {}

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
          MakeCom<DeviceServicesContext>(modem_, points_.Find(plat::IID_IMbnDeviceServicesEvents), std::move(iface)),
          out);
    });
  }

  HRESULT TXL_STDCALL EnumConnectionPoints(plat::IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL FindConnectionPoint(plat::REFIID riid, plat::IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(this, riid, ppCP);
  }

 private:
  std::shared_ptr<const Modem> modem_;
  ConnectionPoints points_;
};

// ---- Connections (not simulated) -----------------------------------------------------------------

class ConnectionManager final : public ComObject<plat::IMbnConnectionManager, plat::IConnectionPointContainer> {
 public:
  ConnectionManager() : points_({plat::IID_IMbnConnectionManagerEvents, plat::IID_IMbnConnectionEvents}) {}

  HRESULT TXL_STDCALL GetConnection(const char16_t*, plat::IMbnConnection** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetConnections(plat::SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL EnumConnectionPoints(plat::IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL FindConnectionPoint(plat::REFIID riid, plat::IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(this, riid, ppCP);
  }

 private:
  ConnectionPoints points_;
};

class ConnectionProfileManager final
    : public ComObject<plat::IMbnConnectionProfileManager, plat::IConnectionPointContainer> {
 public:
  ConnectionProfileManager() : points_({plat::IID_IMbnConnectionProfileManagerEvents}) {}

  HRESULT TXL_STDCALL GetConnectionProfiles(plat::IMbnInterface*, plat::SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetConnectionProfile(plat::IMbnInterface*, const char16_t*,
                                           plat::IMbnConnectionProfile** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL CreateConnectionProfile(const char16_t*) override { return plat::E_NOTIMPL; }
  HRESULT TXL_STDCALL EnumConnectionPoints(plat::IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL FindConnectionPoint(plat::REFIID riid, plat::IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(this, riid, ppCP);
  }

 private:
  ConnectionPoints points_;
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
  switch (request_) {
    case Request::kOpen:
      if (ok) SetCommandSession(service->iface(), service->kind(), true);
      break;
    case Request::kClose:
      if (ok) SetCommandSession(service->iface(), service->kind(), false);
      break;
    case Request::kOpenData:
      if (ok) SetDataSession(service->iface(), service->kind(), true);
      break;
    case Request::kCloseData:
      if (ok) SetDataSession(service->iface(), service->kind(), false);
      break;
    default:
      break;
  }
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

template <class T>
HRESULT Create(plat::REFIID iid, void** ppv) {
  auto obj = MakeCom<T>();
  return obj->QueryInterface(iid, ppv);
}

}  // namespace

HRESULT CreateMbnInstance(const plat::GUID& clsid, const plat::GUID& iid, void** ppv) {
  if (!ppv) return plat::E_POINTER;
  *ppv = nullptr;
  return Guard([&] {
    if (clsid == plat::CLSID_MbnInterfaceManager) return Create<InterfaceManager>(iid, ppv);
    if (clsid == plat::CLSID_MbnDeviceServicesManager) return Create<DeviceServicesManager>(iid, ppv);
    if (clsid == plat::CLSID_MbnConnectionManager) return Create<ConnectionManager>(iid, ppv);
    if (clsid == plat::CLSID_MbnConnectionProfileManager) return Create<ConnectionProfileManager>(iid, ppv);
    return plat::REGDB_E_CLASSNOTREG;
  });
}

}  // namespace sim
