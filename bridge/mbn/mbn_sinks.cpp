#include "bridge/mbn/mbn_sinks.h"

#include <string>
#include <utility>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/session.h"
#include "platform/com.h"
#include "platform/text.h"

namespace vexel {

using plat::HRESULT;
using plat::S_OK;
using plat::ULONG;

HRESULT CMbnSinks::QueryInterface(plat::REFIID riid, void** ppvObject) {
  if (!ppvObject) return plat::E_POINTER;
  *ppvObject = nullptr;
  if (riid == plat::IID_IUnknown || riid == plat::IID_IMbnRadioEvents)
    *ppvObject = static_cast<plat::IMbnRadioEvents*>(this);
  else if (riid == plat::IID_IMbnRegistrationEvents)
    *ppvObject = static_cast<plat::IMbnRegistrationEvents*>(this);
  else if (riid == plat::IID_IMbnSignalEvents)
    *ppvObject = static_cast<plat::IMbnSignalEvents*>(this);
  else if (riid == plat::IID_IMbnInterfaceEvents)
    *ppvObject = static_cast<plat::IMbnInterfaceEvents*>(this);
  else if (riid == plat::IID_IMbnInterfaceManagerEvents)
    *ppvObject = static_cast<plat::IMbnInterfaceManagerEvents*>(this);
  else if (riid == plat::IID_IMbnConnectionManagerEvents)
    *ppvObject = static_cast<plat::IMbnConnectionManagerEvents*>(this);
  else if (riid == plat::IID_IMbnConnectionEvents)
    *ppvObject = static_cast<plat::IMbnConnectionEvents*>(this);
  else if (riid == plat::IID_IMbnDeviceServicesEvents)
    *ppvObject = static_cast<plat::IMbnDeviceServicesEvents*>(this);
  else
    return plat::E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG CMbnSinks::AddRef() { return ref_.Inc(); }
ULONG CMbnSinks::Release() { return ref_.Dec(); }

// ---- Events nobody here listens to --------------------------------------------------------------

HRESULT CMbnSinks::OnRadioStateChange(plat::IMbnRadio*) {
  LogLine("\t *****Received OnRadioStateChange Event\n");
  return S_OK;
}
HRESULT CMbnSinks::OnSetSoftwareRadioStateComplete(plat::IMbnRadio*, ULONG, HRESULT) {
  LogLine("\t *****Received OnSetSoftwareRadioStateComplete Event\n");
  return S_OK;
}
HRESULT CMbnSinks::OnRegisterModeAvailable(plat::IMbnRegistration*) { return S_OK; }
HRESULT CMbnSinks::OnRegisterStateChange(plat::IMbnRegistration*) { return S_OK; }
HRESULT CMbnSinks::OnPacketServiceStateChange(plat::IMbnRegistration*) { return S_OK; }
HRESULT CMbnSinks::OnSetRegisterModeComplete(plat::IMbnRegistration*, ULONG, HRESULT) { return S_OK; }
HRESULT CMbnSinks::OnSignalStateChange(plat::IMbnSignal*) { return S_OK; }
HRESULT CMbnSinks::OnInterfaceCapabilityAvailable(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnSubscriberInformationChange(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnReadyStateChange(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnEmergencyModeChange(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnHomeProviderAvailable(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnPreferredProvidersChange(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnSetPreferredProvidersComplete(plat::IMbnInterface*, ULONG, HRESULT) { return S_OK; }
HRESULT CMbnSinks::OnScanNetworkComplete(plat::IMbnInterface*, ULONG, HRESULT) { return S_OK; }
HRESULT CMbnSinks::OnInterfaceArrival(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnInterfaceRemoval(plat::IMbnInterface*) { return S_OK; }
HRESULT CMbnSinks::OnConnectionArrival(plat::IMbnConnection*) { return S_OK; }
HRESULT CMbnSinks::OnConnectionRemoval(plat::IMbnConnection*) { return S_OK; }
HRESULT CMbnSinks::OnConnectComplete(plat::IMbnConnection*, ULONG, HRESULT) { return S_OK; }
HRESULT CMbnSinks::OnDisconnectComplete(plat::IMbnConnection*, ULONG, HRESULT) {
  LogLine("\t *****Received OnDisconnectComplete Event\n");
  return S_OK;
}
HRESULT CMbnSinks::OnConnectStateChange(plat::IMbnConnection*) { return S_OK; }
HRESULT CMbnSinks::OnVoiceCallStateChange(plat::IMbnConnection*) { return S_OK; }

// ---- Device-service completions -----------------------------------------------------------------

HRESULT CMbnSinks::OnOpenCommandSessionComplete(plat::IMbnDeviceService*, HRESULT status, ULONG requestID) {
  LogLine("\t *****Received OnOpenCommandSessionComplete Event\n");
  TakeCompletion(RequestKind::kOpenSession, ReceivedCompletion{requestID, status, false, {}});
  return S_OK;
}

HRESULT CMbnSinks::OnCloseCommandSessionComplete(plat::IMbnDeviceService*, HRESULT status, ULONG requestID) {
  LogLine("\t *****Received OnCloseCommandSessionComplete Event\n");
  TakeCompletion(RequestKind::kCloseSession, ReceivedCompletion{requestID, status, false, {}});
  return S_OK;
}

HRESULT CMbnSinks::OnQueryCommandComplete(plat::IMbnDeviceService*, ULONG, plat::SAFEARRAY* deviceServiceData,
                                          HRESULT status, ULONG requestID) {
  ReceivedCompletion completion{requestID, status, status == S_OK && deviceServiceData, {}};
  if (completion.stores) {
    // An array that cannot be read stores nothing and signals nothing: the request times out.
    if (plat::Failed(plat::ReadByteArray(deviceServiceData, &completion.payload))) return S_OK;
    ConsoleHexDump("Query command data: ", completion.payload.data(), completion.payload.size());
  }
  TakeCompletion(RequestKind::kQuery, std::move(completion));
  return S_OK;
}

HRESULT CMbnSinks::OnSetCommandComplete(plat::IMbnDeviceService*, ULONG, plat::SAFEARRAY* deviceServiceData,
                                        HRESULT status, ULONG requestID) {
  ReceivedCompletion completion{requestID, status, status == S_OK && deviceServiceData, {}};
  if (completion.stores && plat::Failed(plat::ReadByteArray(deviceServiceData, &completion.payload))) return S_OK;
  // The payload reaches the caller's buffer only through the request that waits for it, so one
  // that comes after a time-out never writes into memory its caller may have freed.
  TakeCompletion(RequestKind::kSet, std::move(completion));
  return S_OK;
}

HRESULT CMbnSinks::OnReadData(plat::IMbnDeviceService*, plat::SAFEARRAY* deviceServiceData) {
  LogLine("\t *****Received OnReadData Event\n");
  std::vector<std::uint8_t> payload;
  plat::ReadByteArray(deviceServiceData, &payload);  // none to show when it cannot be read
  std::string bytes;
  for (std::uint8_t b : payload) bytes += plat::Format("%02X ", b);
  LogLine("\t Response = %s", bytes.c_str());
  LogLine("\t NumElements = %d\n", static_cast<int>(payload.size()));
  return S_OK;
}

}  // namespace vexel
