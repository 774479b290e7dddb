#include <string>
#include <utility>
#include <vector>

#include "platform/modem.h"
#include "platform/setup_api.h"
#include "platform/types.h"
#include "sim/machine.h"
#include "win32/os.h"

#include <setupapi.h>

namespace plat {

namespace {

constexpr ::DWORD kInstanceIdChars = 260;

class SystemDeviceList final : public PresentDeviceList {
 public:
  explicit SystemDeviceList(HDEVINFO list) : list_(list) {}
  ~SystemDeviceList() override {
    const ::DWORD saved = ::GetLastError();
    ::SetupDiDestroyDeviceInfoList(list_);
    ::SetLastError(saved);
  }
  SystemDeviceList(const SystemDeviceList&) = delete;
  SystemDeviceList& operator=(const SystemDeviceList&) = delete;

  bool Exists(DWORD index) override {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    return ::SetupDiEnumDeviceInfo(list_, index, &data) != FALSE;
  }
  bool InstanceId(DWORD index, std::string* id) override {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInfo(list_, index, &data)) return false;
    char buffer[kInstanceIdChars] = {};
    if (!::SetupDiGetDeviceInstanceIdA(list_, &data, buffer, kInstanceIdChars, nullptr)) return false;
    *id = buffer;
    return true;
  }

 private:
  HDEVINFO list_;
};

class SimulatedDeviceList final : public PresentDeviceList {
 public:
  explicit SimulatedDeviceList(std::vector<std::string> ids) : ids_(std::move(ids)) {}
  bool Exists(DWORD index) override { return index < ids_.size(); }
  bool InstanceId(DWORD index, std::string* id) override {
    if (index >= ids_.size()) {
      ::SetLastError(ERROR_NO_MORE_ITEMS);
      return false;
    }
    *id = ids_[index].substr(0, kInstanceIdChars - 1);
    return true;
  }

 private:
  std::vector<std::string> ids_;
};

}  // namespace

std::unique_ptr<PresentDeviceList> OpenPresentDeviceList() {
  if (SelectedModem() == ModemKind::kSimulated) return std::make_unique<SimulatedDeviceList>(sim::SetupApiDevices());
  const HDEVINFO list = ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (list == INVALID_HANDLE_VALUE) return nullptr;  // the system has set the last error
  return std::make_unique<SystemDeviceList>(list);
}

}  // namespace plat
