// The simulated notebook's interfaces (interface manager, interfaces, subscriber data) and the
// connection managers it does not simulate beyond their connection points.
#include <string>
#include <utility>

#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/text.h"
#include "sim/com_object.h"
#include "sim/mbn_objects.h"
#include "sim/runtime.h"
#include "sim/sim.h"

namespace sim::mbn {

namespace {

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

class InterfaceManager final : public ConnectionPointContainer<plat::IMbnInterfaceManager> {
 public:
  InterfaceManager()
      : ConnectionPointContainer({plat::IID_IMbnInterfaceManagerEvents, plat::IID_IMbnInterfaceEvents,
                                  plat::IID_IMbnSignalEvents, plat::IID_IMbnRegistrationEvents,
                                  plat::IID_IMbnRadioEvents}),
        modem_(LoadModem()) {}

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

 private:
  std::shared_ptr<const Modem> modem_;
};

// ---- Connections (not simulated) -----------------------------------------------------------------

class ConnectionManager final : public ConnectionPointContainer<plat::IMbnConnectionManager> {
 public:
  ConnectionManager()
      : ConnectionPointContainer({plat::IID_IMbnConnectionManagerEvents, plat::IID_IMbnConnectionEvents}) {}

  HRESULT TXL_STDCALL GetConnection(const char16_t*, plat::IMbnConnection** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetConnections(plat::SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }};

class ConnectionProfileManager final : public ConnectionPointContainer<plat::IMbnConnectionProfileManager> {
 public:
  ConnectionProfileManager() : ConnectionPointContainer({plat::IID_IMbnConnectionProfileManagerEvents}) {}

  HRESULT TXL_STDCALL GetConnectionProfiles(plat::IMbnInterface*, plat::SAFEARRAY** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL GetConnectionProfile(plat::IMbnInterface*, const char16_t*,
                                           plat::IMbnConnectionProfile** out) override {
    if (out) *out = nullptr;
    return plat::E_NOTIMPL;
  }
  HRESULT TXL_STDCALL CreateConnectionProfile(const char16_t*) override { return plat::E_NOTIMPL; }};

}  // namespace

HRESULT CreateInterfaceManager(plat::REFIID iid, void** ppv) {
  return MakeCom<InterfaceManager>()->QueryInterface(iid, ppv);
}
HRESULT CreateConnectionManager(plat::REFIID iid, void** ppv) {
  return MakeCom<ConnectionManager>()->QueryInterface(iid, ppv);
}
HRESULT CreateConnectionProfileManager(plat::REFIID iid, void** ppv) {
  return MakeCom<ConnectionProfileManager>()->QueryInterface(iid, ppv);
}

}  // namespace sim::mbn
