// The mobile-broadband classes of the simulated notebook: the class factory, and what the classes
// share.
#include "sim/mbn_objects.h"

#include "platform/mbn.h"
#include "platform/text.h"
#include "sim/runtime.h"
#include "sim/sim.h"

namespace sim {

namespace mbn {

namespace {

bool SameId(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (plat::AsciiUpper(a[i]) != plat::AsciiUpper(b[i])) return false;
  return true;
}

}  // namespace

BSTR AllocUtf8(const std::string& text) {
  const std::u16string wide = plat::Utf8ToUtf16(text);
  return plat::SysAllocStringLen(wide.data(), static_cast<plat::UINT>(wide.size()));
}

std::u16string FindInterface(const ModemConfig& config, std::u16string_view id) {
  for (std::uint32_t i = 0; i < config.interfaces; ++i) {
    std::u16string candidate = InterfaceId(i);
    if (SameId(candidate, id)) return candidate;
  }
  return {};
}

}  // namespace mbn

plat::HRESULT CreateMbnInstance(const plat::GUID& clsid, const plat::GUID& iid, void** ppv) {
  using namespace mbn;
  if (!ppv) return plat::E_POINTER;
  *ppv = nullptr;
  return Guard([&] {
    if (clsid == plat::CLSID_MbnInterfaceManager) return CreateInterfaceManager(iid, ppv);
    if (clsid == plat::CLSID_MbnDeviceServicesManager) return CreateDeviceServicesManager(iid, ppv);
    if (clsid == plat::CLSID_MbnConnectionManager) return CreateConnectionManager(iid, ppv);
    if (clsid == plat::CLSID_MbnConnectionProfileManager) return CreateConnectionProfileManager(iid, ppv);
    return plat::REGDB_E_CLASSNOTREG;
  });
}

}  // namespace sim
