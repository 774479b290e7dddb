// The Mobile Broadband API's classes over MBIM control devices (libmbim): the interface manager
// lists the devices the kernel has, each interface answers its capabilities and ready state from
// the device's basic-connect service, and a device service turns queries and sets into MBIM
// commands of its own service id, completed on the platform's completion thread with the caller's
// request id.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/bytes.h"
#include "platform/com_object.h"
#include "platform/mbn.h"
#include "platform/posix/mbim/devices.h"
#include "platform/posix/mbim/mbim_link.h"
#include "platform/posix/mbim/os_modem.h"
#include "platform/process.h"
#include "platform/text.h"

namespace plat::mbim_os {

namespace {

constexpr GUID kBasicConnect = {0xa289cc33, 0xbcbb, 0x8b4f, {0xb6, 0xb0, 0x13, 0x3e, 0xc2, 0xaa, 0xe6, 0xdf}};
constexpr std::uint32_t kCidDeviceCaps = 1;
constexpr std::uint32_t kCidReadyStatus = 2;
constexpr std::uint32_t kCidDeviceServices = 16;
constexpr ULONG kMaxCommandSize = 4096;
constexpr HRESULT kNotFound = HresultFromWin32(ERROR_NOT_FOUND);
constexpr HRESULT kSessionNotOpen = HresultFromWin32(21);  // ERROR_NOT_READY

// Completions reach the sinks on one thread of the platform's, in the order they came, never on
// the link's own thread: a sink may make its next request from inside its callback.
class Completions {
 public:
  static Completions& Instance() {
    static Completions* c = new Completions;  // lives as long as the process
    return *c;
  }
  void Post(std::function<void()> fn) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      queue_.push_back(std::move(fn));
    }
    cv_.notify_one();
  }

 private:
  Completions() {
    std::thread([this] {
      for (;;) {
        std::function<void()> fn;
        {
          std::unique_lock<std::mutex> lock(mu_);
          cv_.wait(lock, [&] { return !queue_.empty(); });
          fn = std::move(queue_.front());
          queue_.pop_front();
        }
        fn();
      }
    }).detach();
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
};

std::uint32_t NextRequestId() {
  static std::atomic<std::uint32_t> next{1};
  std::uint32_t id = next++;
  return id ? id : next++;
}

// One link per device node, shared by every object that reaches it and closed with the last.
// A node is never open twice at once: a link that is closing still reads the node until its CLOSE
// is answered, and would take the next link's OPEN answer or first reply for its own (the next
// link then waits for libmbim to send OPEN again). So a new link to a node is opened only once the
// previous one has closed, wherever its last user let go. The last user may be a completion on the
// link's own thread, which the link's close must join: the close then runs on a thread of its own.
std::shared_ptr<MbimLink> LinkFor(const std::string& node, HRESULT* error) {
  struct Closing {
    std::mutex mu;
    std::condition_variable done;
    int links = 0;  // links of the node still closing
  };
  struct Node {
    std::weak_ptr<MbimLink> link;
    std::shared_ptr<Closing> closing = std::make_shared<Closing>();
  };
  static std::mutex mu;
  static auto* nodes = new std::map<std::string, Node>;
  std::lock_guard<std::mutex> lock(mu);
  Node& n = (*nodes)[node];
  {
    // Released before waiting: this may be the last reference to a link that went away.
    const std::shared_ptr<MbimLink> current = n.link.lock();
    if (current && !current->gone()) return current;
  }
  const std::shared_ptr<Closing> closing = n.closing;
  {
    std::unique_lock<std::mutex> wait(closing->mu);
    closing->done.wait(wait, [&] { return closing->links == 0; });
  }
  const auto proxy = GetEnv("TXL_MBIM_PROXY");
  std::shared_ptr<MbimLink> opened = MbimLink::Open(node, !(proxy && *proxy == "0"), error);
  if (!opened) return nullptr;
  MbimLink* raw = opened.get();
  std::shared_ptr<MbimLink> link(raw, [opened = std::move(opened), closing](MbimLink* last) mutable {
    {
      std::lock_guard<std::mutex> count(closing->mu);
      ++closing->links;
    }
    auto close = [opened = std::move(opened), closing]() mutable {
      opened.reset();
      {
        std::lock_guard<std::mutex> count(closing->mu);
        --closing->links;
      }
      closing->done.notify_all();
    };
    if (last->OnOwnThread()) std::thread(std::move(close)).detach();
    else close();
  });
  n.link = link;
  return link;
}

// A UTF-16 string of a basic-connect answer at the offset and size found at `pair`.
std::u16string StringAt(const std::vector<std::uint8_t>& info, std::size_t pair) {
  const auto at = ReadU32(info, pair), size = ReadU32(info, pair + 4);
  std::u16string out;
  if (!at || !size || !FieldFits(info.size(), *at, *size)) return out;
  for (std::size_t i = *at; i + 1 < *at + *size; i += 2) out.push_back(static_cast<char16_t>(info[i] | info[i + 1] << 8));
  return out;
}

struct Device {
  ControlDevice control;
  std::u16string id;
};

std::vector<Device> Devices() {
  std::vector<Device> out;
  for (ControlDevice& c : ListControlDevices()) out.push_back({c, InterfaceIdFor(c.node)});
  return out;
}

bool SameId(std::u16string_view a, std::u16string_view b) {
  GUID ga{}, gb{};
  return GuidFromString(a, &ga) && GuidFromString(b, &gb) && ga == gb;
}

// ---- Interfaces -----------------------------------------------------------------------------------

// What the device answered about its SIM when it was asked.
class SubscriberInformation final : public ComObject<IMbnSubscriberInformation> {
 public:
  SubscriberInformation(std::u16string subscriber, std::u16string iccid)
      : subscriber_(std::move(subscriber)), iccid_(std::move(iccid)) {}
  HRESULT TXL_STDCALL get_SubscriberID(BSTR* out) override { return OutString(subscriber_, out); }
  HRESULT TXL_STDCALL get_SimIccID(BSTR* out) override { return OutString(iccid_, out); }
  HRESULT TXL_STDCALL get_TelephoneNumbers(SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::u16string subscriber_;
  std::u16string iccid_;
};

class Interface final : public ComObject<IMbnInterface> {
 public:
  Interface(Device device, std::shared_ptr<MbimLink> link) : device_(std::move(device)), link_(std::move(link)) {}

  HRESULT TXL_STDCALL get_InterfaceID(BSTR* out) override { return OutString(device_.id, out); }
  HRESULT TXL_STDCALL GetInterfaceCapability(MBN_INTERFACE_CAPS* caps) override {
    return Guard([&]() -> HRESULT {
      if (!caps) return E_POINTER;
      *caps = MBN_INTERFACE_CAPS{};
      const MbimLink::Result r = link_->CommandAndWait(kBasicConnect, kCidDeviceCaps, false, {});
      if (Failed(r.status)) return r.status;
      if (r.information.size() < 64) return E_FAIL;
      LeReader in(r.information);
      caps->cellularClass = static_cast<MBN_CELLULAR_CLASS>(in.U32(4));
      caps->voiceClass = static_cast<MBN_VOICE_CLASS>(in.U32(8));
      caps->dataClass = in.U32(16);
      caps->smsCaps = in.U32(20);
      caps->controlCaps = in.U32(24);
      auto text = [](const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); };
      const std::u16string custom = StringAt(r.information, 32);
      if (!custom.empty()) caps->customDataClass = text(custom);
      caps->deviceID = text(StringAt(r.information, 40));
      caps->firmwareInfo = text(StringAt(r.information, 48));
      // The kernel's product name where sysfs has one, else what the device calls its hardware.
      caps->model = text(device_.control.product.empty() ? StringAt(r.information, 56)
                                                         : Utf8ToUtf16(device_.control.product));
      caps->manufacturer = text(u"");
      if (!caps->deviceID || !caps->firmwareInfo || !caps->model || !caps->manufacturer) {
        FreeInterfaceCaps(caps);
        return E_OUTOFMEMORY;
      }
      return S_OK;
    });
  }
  HRESULT TXL_STDCALL GetSubscriberInformation(IMbnSubscriberInformation** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      const MbimLink::Result r = link_->CommandAndWait(kBasicConnect, kCidReadyStatus, false, {});
      if (Failed(r.status)) return r.status;
      if (r.information.size() < 28) return E_FAIL;
      return HandOut(MakeCom<SubscriberInformation>(StringAt(r.information, 4), StringAt(r.information, 12)), out);
    });
  }
  HRESULT TXL_STDCALL GetReadyState(MBN_READY_STATE* ready) override {
    return Guard([&]() -> HRESULT {
      if (!ready) return E_POINTER;
      const MbimLink::Result r = link_->CommandAndWait(kBasicConnect, kCidReadyStatus, false, {});
      if (Failed(r.status)) return r.status;
      const auto state = ReadU32(r.information, 0);
      if (!state) return E_FAIL;
      *ready = static_cast<MBN_READY_STATE>(*state);
      return S_OK;
    });
  }
  HRESULT TXL_STDCALL InEmergencyMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL GetHomeProvider(MBN_PROVIDER*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL GetPreferredProviders(SAFEARRAY** out) override { return NoArray(out); }
  HRESULT TXL_STDCALL SetPreferredProviders(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL GetVisibleProviders(ULONG*, SAFEARRAY** out) override { return NoArray(out); }
  HRESULT TXL_STDCALL ScanNetwork(ULONG*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL GetConnection(IMbnConnection** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  static HRESULT NoArray(SAFEARRAY** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  Device device_;
  std::shared_ptr<MbimLink> link_;
};

class InterfaceManager final : public ConnectionPointContainer<IMbnInterfaceManager> {
 public:
  InterfaceManager()
      : ConnectionPointContainer({IID_IMbnInterfaceManagerEvents, IID_IMbnInterfaceEvents, IID_IMbnSignalEvents,
                                  IID_IMbnRegistrationEvents, IID_IMbnRadioEvents}) {}

  HRESULT TXL_STDCALL GetInterface(const char16_t* interfaceID, IMbnInterface** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      if (!interfaceID) return E_INVALIDARG;
      for (Device& d : Devices()) {
        if (!SameId(d.id, interfaceID)) continue;
        HRESULT hr = E_FAIL;
        auto link = LinkFor(d.control.node, &hr);
        if (!link) return hr;
        return HandOut(MakeCom<Interface>(std::move(d), std::move(link)), out);
      }
      return kNotFound;
    });
  }

  HRESULT TXL_STDCALL GetInterfaces(SAFEARRAY** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      std::vector<ComPtr<Interface>> found;
      for (Device& d : Devices()) {
        // A device that cannot be opened (gone, no rights, held elsewhere) is no interface.
        HRESULT hr = E_FAIL;
        if (auto link = LinkFor(d.control.node, &hr)) found.push_back(MakeCom<Interface>(std::move(d), std::move(link)));
      }
      SAFEARRAYBOUND bound{static_cast<ULONG>(found.size()), 0};
      UniqueSafeArray array(SafeArrayCreate(VT_UNKNOWN, 1, &bound));
      if (!array) return E_OUTOFMEMORY;
      for (std::size_t i = 0; i < found.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        const HRESULT hr = SafeArrayPutElement(array.get(), &index, static_cast<IMbnInterface*>(found[i].get()));
        if (Failed(hr)) return hr;
      }
      *out = array.release();
      return S_OK;
    });
  }
};

// ---- Device services ------------------------------------------------------------------------------

class DeviceService final : public ComObject<IMbnDeviceService> {
 public:
  DeviceService(std::shared_ptr<MbimLink> link, std::shared_ptr<SinkList> sinks, std::u16string iface,
                std::u16string id, GUID service, std::shared_ptr<std::atomic<bool>> session)
      : link_(std::move(link)), sinks_(std::move(sinks)), iface_(std::move(iface)), id_(std::move(id)),
        service_(service), session_(std::move(session)) {}

  HRESULT TXL_STDCALL QuerySupportedCommands(ULONG*) override { return E_NOTIMPL; }
  // MBIM has no sessions: opening and closing one completes at once.
  HRESULT TXL_STDCALL OpenCommandSession(ULONG* requestID) override { return Session(true, requestID); }
  HRESULT TXL_STDCALL CloseCommandSession(ULONG* requestID) override { return Session(false, requestID); }
  HRESULT TXL_STDCALL SetCommand(ULONG cid, SAFEARRAY* data, ULONG* requestID) override {
    return Command(true, cid, data, requestID);
  }
  HRESULT TXL_STDCALL QueryCommand(ULONG cid, SAFEARRAY* data, ULONG* requestID) override {
    return Command(false, cid, data, requestID);
  }
  HRESULT TXL_STDCALL OpenDataSession(ULONG*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL CloseDataSession(ULONG*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL WriteData(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
  HRESULT TXL_STDCALL get_InterfaceID(BSTR* out) override { return OutString(iface_, out); }
  HRESULT TXL_STDCALL get_DeviceServiceID(BSTR* out) override { return OutString(id_, out); }
  HRESULT TXL_STDCALL get_IsCommandSessionOpen(BOOL* value) override {
    if (!value) return E_POINTER;
    *value = session_->load() ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT TXL_STDCALL get_IsDataSessionOpen(BOOL* value) override {
    if (!value) return E_POINTER;
    *value = FALSE;
    return S_OK;
  }

 private:
  HRESULT Session(bool open, ULONG* requestID) {
    return Guard([&]() -> HRESULT {
      if (!requestID) return E_POINTER;
      const ULONG id = *requestID = NextRequestId();
      session_->store(open);
      ComPtr<DeviceService> self = ComPtr<DeviceService>::Share(this);
      Completions::Instance().Post([self, open, id] {
        self->sinks_->ForEach([&](IUnknown* sink) {
          auto* events = static_cast<IMbnDeviceServicesEvents*>(sink);
          if (open) events->OnOpenCommandSessionComplete(self.get(), S_OK, id);
          else events->OnCloseCommandSessionComplete(self.get(), S_OK, id);
        });
      });
      return S_OK;
    });
  }

  HRESULT Command(bool set, ULONG cid, SAFEARRAY* array, ULONG* requestID) {
    return Guard([&]() -> HRESULT {
      if (!requestID) return E_POINTER;
      *requestID = 0;
      std::vector<BYTE> data;
      if (Failed(ReadByteArray(array, &data)) || data.size() > kMaxCommandSize) return E_INVALIDARG;
      const ULONG id = *requestID = NextRequestId();
      ComPtr<DeviceService> self = ComPtr<DeviceService>::Share(this);
      auto deliver = [self, set, id](MbimLink::Result r) {
        Completions::Instance().Post([self, set, id, r = std::move(r)] {
          UniqueSafeArray payload(MakeByteArray(r.information.data(), static_cast<ULONG>(r.information.size())));
          self->sinks_->ForEach([&](IUnknown* sink) {
            auto* events = static_cast<IMbnDeviceServicesEvents*>(sink);
            if (set) events->OnSetCommandComplete(self.get(), 0, payload.get(), r.status, id);
            else events->OnQueryCommandComplete(self.get(), 0, payload.get(), r.status, id);
          });
        });
      };
      if (!session_->load()) {
        deliver(MbimLink::Result{kSessionNotOpen, {}});
        return S_OK;
      }
      link_->Command(service_, cid, set, std::move(data), std::move(deliver));
      return S_OK;
    });
  }

  std::shared_ptr<MbimLink> link_;
  std::shared_ptr<SinkList> sinks_;
  std::u16string iface_;
  std::u16string id_;
  GUID service_;
  std::shared_ptr<std::atomic<bool>> session_;
};

class DeviceServicesContext final : public ComObject<IMbnDeviceServicesContext> {
 public:
  DeviceServicesContext(std::shared_ptr<MbimLink> link, std::shared_ptr<SinkList> sinks, std::u16string iface)
      : link_(std::move(link)), sinks_(std::move(sinks)), iface_(std::move(iface)) {}

  HRESULT TXL_STDCALL EnumerateDeviceServices(SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetDeviceService(BSTR deviceServiceID, IMbnDeviceService** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      if (!deviceServiceID) return E_INVALIDARG;
      std::u16string id(deviceServiceID, SysStringLen(deviceServiceID));
      GUID service{};
      if (!GuidFromString(id, &service)) return E_INVALIDARG;
      const HRESULT offered = Offered(service);
      if (Failed(offered)) return offered;
      std::shared_ptr<std::atomic<bool>> session;
      {
        std::lock_guard<std::mutex> lock(mu_);
        auto& s = sessions_[GuidToString(service)];
        if (!s) s = std::make_shared<std::atomic<bool>>(false);
        session = s;
      }
      return HandOut(MakeCom<DeviceService>(link_, sinks_, iface_, std::move(id), service, session), out);
    });
  }
  HRESULT TXL_STDCALL get_MaxCommandSize(ULONG* size) override { return Out(kMaxCommandSize, size); }
  HRESULT TXL_STDCALL get_MaxDataSize(ULONG* size) override { return Out(kMaxCommandSize, size); }

 private:
  static HRESULT Out(ULONG value, ULONG* out) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
  }
  // S_OK when the device lists the service; ERROR_NOT_FOUND when it does not.
  HRESULT Offered(const GUID& service) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!listed_) {
      const MbimLink::Result r = link_->CommandAndWait(kBasicConnect, kCidDeviceServices, false, {});
      if (Failed(r.status)) return r.status;
      const auto count = ReadU32(r.information, 0);
      for (std::uint32_t i = 0; count && i < *count; ++i) {
        const auto at = ReadU32(r.information, 8 + 8 * static_cast<std::size_t>(i));
        if (at && FieldFits(r.information.size(), *at, 16))
          services_.push_back(GuidFromBytes(std::span<const std::uint8_t, 16>(r.information.data() + *at, 16)));
      }
      listed_ = true;
    }
    for (const GUID& g : services_)
      if (g == service) return S_OK;
    return kNotFound;
  }

  std::shared_ptr<MbimLink> link_;
  std::shared_ptr<SinkList> sinks_;
  std::u16string iface_;
  std::mutex mu_;
  bool listed_ = false;
  std::vector<GUID> services_;
  std::map<std::u16string, std::shared_ptr<std::atomic<bool>>> sessions_;
};

class DeviceServicesManager final : public ConnectionPointContainer<IMbnDeviceServicesManager> {
 public:
  DeviceServicesManager() : ConnectionPointContainer({IID_IMbnDeviceServicesEvents}) {}

  HRESULT TXL_STDCALL GetDeviceServicesContext(BSTR interfaceID, IMbnDeviceServicesContext** out) override {
    return Guard([&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      if (!interfaceID) return E_INVALIDARG;
      const std::u16string_view wanted(interfaceID, SysStringLen(interfaceID));
      for (Device& d : Devices()) {
        if (!SameId(d.id, wanted)) continue;
        HRESULT hr = E_FAIL;
        auto link = LinkFor(d.control.node, &hr);
        if (!link) return hr;
        return HandOut(MakeCom<DeviceServicesContext>(std::move(link), points().Find(IID_IMbnDeviceServicesEvents), d.id),
                       out);
      }
      return kNotFound;
    });
  }
};

class ConnectionManager final : public ConnectionPointContainer<IMbnConnectionManager> {
 public:
  ConnectionManager() : ConnectionPointContainer({IID_IMbnConnectionManagerEvents, IID_IMbnConnectionEvents}) {}
  HRESULT TXL_STDCALL GetConnection(const char16_t*, IMbnConnection** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetConnections(SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
};

class ConnectionProfileManager final : public ConnectionPointContainer<IMbnConnectionProfileManager> {
 public:
  ConnectionProfileManager() : ConnectionPointContainer({IID_IMbnConnectionProfileManagerEvents}) {}
  HRESULT TXL_STDCALL GetConnectionProfiles(IMbnInterface*, SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetConnectionProfile(IMbnInterface*, const char16_t*, IMbnConnectionProfile** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TXL_STDCALL CreateConnectionProfile(const char16_t*) override { return E_NOTIMPL; }
};

}  // namespace

HRESULT CreateInstance(const GUID& clsid, const GUID& iid, void** ppv) {
  return Guard([&]() -> HRESULT {
    if (clsid == CLSID_MbnInterfaceManager) return MakeCom<InterfaceManager>()->QueryInterface(iid, ppv);
    if (clsid == CLSID_MbnDeviceServicesManager) return MakeCom<DeviceServicesManager>()->QueryInterface(iid, ppv);
    if (clsid == CLSID_MbnConnectionManager) return MakeCom<ConnectionManager>()->QueryInterface(iid, ppv);
    if (clsid == CLSID_MbnConnectionProfileManager)
      return MakeCom<ConnectionProfileManager>()->QueryInterface(iid, ppv);
    return REGDB_E_CLASSNOTREG;
  });
}

}  // namespace plat::mbim_os
