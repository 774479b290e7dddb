// The bridge's event sink. It implements every mobile-broadband event interface; only the
// device-services completions do anything: each hands what it carries, with its request id, to
// the session layer, which stores it and signals the waiting request only when the id is that
// request's.
#pragma once

#include "platform/mbn.h"
#include "platform/mbn_events.h"

namespace vexel {

class CMbnSinks final : public plat::IMbnRadioEvents,
                        public plat::IMbnRegistrationEvents,
                        public plat::IMbnSignalEvents,
                        public plat::IMbnInterfaceEvents,
                        public plat::IMbnInterfaceManagerEvents,
                        public plat::IMbnConnectionManagerEvents,
                        public plat::IMbnConnectionEvents,
                        public plat::DeviceServicesEventsDefaults {
 public:
  CMbnSinks() = default;
  ~CMbnSinks() = default;
  CMbnSinks(const CMbnSinks&) = delete;
  CMbnSinks& operator=(const CMbnSinks&) = delete;

  // IUnknown. Release never deletes: the library frees the sink when it disconnects.
  plat::HRESULT TXL_STDCALL QueryInterface(plat::REFIID riid, void** ppvObject) override;
  plat::ULONG TXL_STDCALL AddRef() override;
  plat::ULONG TXL_STDCALL Release() override;
  plat::ULONG RefCount() const { return ref_.Get(); }

  // IMbnRadioEvents
  plat::HRESULT TXL_STDCALL OnRadioStateChange(plat::IMbnRadio* newInterface) override;
  plat::HRESULT TXL_STDCALL OnSetSoftwareRadioStateComplete(plat::IMbnRadio* newInterface, plat::ULONG requestID,
                                                            plat::HRESULT status) override;
  // IMbnRegistrationEvents
  plat::HRESULT TXL_STDCALL OnRegisterModeAvailable(plat::IMbnRegistration* newInterface) override;
  plat::HRESULT TXL_STDCALL OnRegisterStateChange(plat::IMbnRegistration* newInterface) override;
  plat::HRESULT TXL_STDCALL OnPacketServiceStateChange(plat::IMbnRegistration* newInterface) override;
  plat::HRESULT TXL_STDCALL OnSetRegisterModeComplete(plat::IMbnRegistration* newInterface, plat::ULONG requestID,
                                                      plat::HRESULT status) override;
  // IMbnSignalEvents
  plat::HRESULT TXL_STDCALL OnSignalStateChange(plat::IMbnSignal* newInterface) override;
  // IMbnInterfaceEvents
  plat::HRESULT TXL_STDCALL OnInterfaceCapabilityAvailable(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnSubscriberInformationChange(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnReadyStateChange(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnEmergencyModeChange(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnHomeProviderAvailable(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnPreferredProvidersChange(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnSetPreferredProvidersComplete(plat::IMbnInterface* newInterface, plat::ULONG requestID,
                                                            plat::HRESULT status) override;
  plat::HRESULT TXL_STDCALL OnScanNetworkComplete(plat::IMbnInterface* newInterface, plat::ULONG requestID,
                                                  plat::HRESULT status) override;
  // IMbnInterfaceManagerEvents
  plat::HRESULT TXL_STDCALL OnInterfaceArrival(plat::IMbnInterface* newInterface) override;
  plat::HRESULT TXL_STDCALL OnInterfaceRemoval(plat::IMbnInterface* oldInterface) override;
  // IMbnConnectionManagerEvents
  plat::HRESULT TXL_STDCALL OnConnectionArrival(plat::IMbnConnection* newConnection) override;
  plat::HRESULT TXL_STDCALL OnConnectionRemoval(plat::IMbnConnection* oldConnection) override;
  // IMbnConnectionEvents
  plat::HRESULT TXL_STDCALL OnConnectComplete(plat::IMbnConnection* newConnection, plat::ULONG requestID,
                                              plat::HRESULT status) override;
  plat::HRESULT TXL_STDCALL OnDisconnectComplete(plat::IMbnConnection* newConnection, plat::ULONG requestID,
                                                 plat::HRESULT status) override;
  plat::HRESULT TXL_STDCALL OnConnectStateChange(plat::IMbnConnection* newConnection) override;
  plat::HRESULT TXL_STDCALL OnVoiceCallStateChange(plat::IMbnConnection* newConnection) override;
  // IMbnDeviceServicesEvents (the rest answer S_OK in the base)
  plat::HRESULT TXL_STDCALL OnOpenCommandSessionComplete(plat::IMbnDeviceService* deviceService,
                                                         plat::HRESULT status, plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnCloseCommandSessionComplete(plat::IMbnDeviceService* deviceService,
                                                          plat::HRESULT status, plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnSetCommandComplete(plat::IMbnDeviceService* deviceService, plat::ULONG responseID,
                                                 plat::SAFEARRAY* deviceServiceData, plat::HRESULT status,
                                                 plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnQueryCommandComplete(plat::IMbnDeviceService* deviceService, plat::ULONG responseID,
                                                   plat::SAFEARRAY* deviceServiceData, plat::HRESULT status,
                                                   plat::ULONG requestID) override;
  plat::HRESULT TXL_STDCALL OnReadData(plat::IMbnDeviceService* deviceService,
                                       plat::SAFEARRAY* deviceServiceData) override;

 private:
  plat::RefCount ref_;
};

}  // namespace vexel
