// The simulated modem as an in-process COM server (txlsim_com.dll, Windows only). Registered as the
// four mobile-broadband classes, it lets a program run with TXL_MODEM=os reach the simulated modem
// the way it reaches the system's mobile-broadband service on a notebook: objects created by the
// system's CoCreateInstance, sinks advised through the connection points those objects hand out,
// arrays and strings made and freed by the system's own functions.
#include "platform/com.h"
#include "platform/dll.h"
#include "platform/mbn.h"
#include "sim/com_object.h"
#include "sim/sim.h"

namespace {

using plat::HRESULT;

bool Served(const plat::GUID& clsid) {
  return clsid == plat::CLSID_MbnInterfaceManager || clsid == plat::CLSID_MbnConnectionManager ||
         clsid == plat::CLSID_MbnConnectionProfileManager || clsid == plat::CLSID_MbnDeviceServicesManager;
}

class ClassFactory final : public sim::ComObject<plat::IClassFactory> {
 public:
  explicit ClassFactory(const plat::GUID& clsid) : clsid_(clsid) {}

  HRESULT TXL_STDCALL CreateInstance(plat::IUnknown* outer, plat::REFIID iid, void** ppv) override {
    if (!ppv) return plat::E_POINTER;
    *ppv = nullptr;
    if (outer) return plat::CLASS_E_NOAGGREGATION;
    return sim::CreateMbnInstance(clsid_, iid, ppv);
  }
  HRESULT TXL_STDCALL LockServer(plat::BOOL) override { return plat::S_OK; }

 private:
  const plat::GUID clsid_;
};

}  // namespace

extern "C" TXL_EXPORT HRESULT TXL_STDCALL DllGetClassObject(plat::REFCLSID clsid, plat::REFIID iid, void** ppv) {
  if (!ppv) return plat::E_POINTER;
  *ppv = nullptr;
  if (!Served(clsid)) return plat::CLASS_E_CLASSNOTAVAILABLE;
  return sim::MakeCom<ClassFactory>(clsid)->QueryInterface(iid, ppv);
}

// Never: the modem's completion thread and its objects live as long as the process.
extern "C" TXL_EXPORT HRESULT TXL_STDCALL DllCanUnloadNow() { return plat::S_FALSE; }
