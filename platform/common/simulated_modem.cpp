#include "common/simulated_modem.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "platform/modem.h"
#include "platform/process.h"

namespace plat {

namespace {

using CreateFn = HRESULT (*)(const GUID&, const GUID&, void**);
using DevicesFn = std::vector<std::string> (*)();

// Plain function pointers: registration may happen in a library's load hook, before any static
// object of the platform is constructed, and must stay valid until the process ends.
std::atomic<CreateFn> g_create{nullptr};
std::atomic<DevicesFn> g_devices{nullptr};

// The system's buffer holds 260 characters with the terminator.
constexpr DWORD kInstanceIdChars = 260;

class IdList final : public PresentDeviceList {
 public:
  explicit IdList(std::vector<std::string> ids) : ids_(std::move(ids)) {}
  bool Exists(DWORD index) override { return index < ids_.size(); }
  bool InstanceId(DWORD index, std::string* id) override {
    if (index >= ids_.size()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return false;
    }
    *id = ids_[index].substr(0, kInstanceIdChars - 1);
    return true;
  }

 private:
  std::vector<std::string> ids_;
};

}  // namespace

std::unique_ptr<PresentDeviceList> DeviceListOf(std::vector<std::string> ids) {
  return std::make_unique<IdList>(std::move(ids));
}

void RegisterSimulatedModem(const SimulatedModem& modem) {
  g_create.store(modem.create_instance);
  g_devices.store(modem.present_devices);
}

namespace simulated {

HRESULT CreateInstance(const GUID& clsid, const GUID& iid, void** ppv) {
  const CreateFn create = g_create.load();
  if (!create) return REGDB_E_CLASSNOTREG;
  return create(clsid, iid, ppv);
}

std::unique_ptr<PresentDeviceList> OpenDeviceList() {
  const DevicesFn devices = g_devices.load();
  return DeviceListOf(devices ? devices() : std::vector<std::string>{});
}

}  // namespace simulated

}  // namespace plat
