// A device-services event sink that answers every callback a command exchange has no use for, so
// that each sink of the suite writes only the callbacks it acts on.
#pragma once

#include "platform/mbn.h"

namespace plat {

class DeviceServicesEventsDefaults : public IMbnDeviceServicesEvents {
 public:
  HRESULT TXL_STDCALL OnQuerySupportedCommandsComplete(IMbnDeviceService*, SAFEARRAY*, HRESULT, ULONG) override {
    return S_OK;
  }
  HRESULT TXL_STDCALL OnEventNotification(IMbnDeviceService*, ULONG, SAFEARRAY*) override { return S_OK; }
  HRESULT TXL_STDCALL OnOpenDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override { return S_OK; }
  HRESULT TXL_STDCALL OnCloseDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override { return S_OK; }
  HRESULT TXL_STDCALL OnWriteDataComplete(IMbnDeviceService*, HRESULT, ULONG) override { return S_OK; }
  HRESULT TXL_STDCALL OnInterfaceStateChange(BSTR, MBN_DEVICE_SERVICES_INTERFACE_STATE) override { return S_OK; }

 protected:
  DeviceServicesEventsDefaults() = default;
  ~DeviceServicesEventsDefaults() = default;
};

}  // namespace plat
