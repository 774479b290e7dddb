#include <string>
#include <utility>

#include "common/simulated_modem.h"
#include "platform/modem.h"
#include "platform/setup_api.h"
#include "platform/types.h"
#include "win32/os.h"

#include <setupapi.h>

namespace plat {

namespace {

constexpr ::DWORD kInstanceIdChars = 260;

using UniqueDeviceInfoList =
    win32::UniqueAny<HDEVINFO, &::SetupDiDestroyDeviceInfoList, win32::NoHandle::kInvalidValue>;

class SystemDeviceList final : public PresentDeviceList {
 public:
  explicit SystemDeviceList(UniqueDeviceInfoList list) : list_(std::move(list)) {}

  bool Exists(DWORD index) override {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    return ::SetupDiEnumDeviceInfo(list_.get(), index, &data) != FALSE;
  }
  bool InstanceId(DWORD index, std::string* id) override {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInfo(list_.get(), index, &data)) return false;
    char buffer[kInstanceIdChars] = {};
    if (!::SetupDiGetDeviceInstanceIdA(list_.get(), &data, buffer, kInstanceIdChars, nullptr)) return false;
    *id = buffer;
    return true;
  }

 private:
  UniqueDeviceInfoList list_;
};

}  // namespace

std::unique_ptr<PresentDeviceList> OpenPresentDeviceList() {
  if (SelectedModem() == ModemKind::kSimulated) return simulated::OpenDeviceList();
  UniqueDeviceInfoList list(::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  if (!list) return nullptr;  // the system has set the last error
  return std::make_unique<SystemDeviceList>(std::move(list));
}

}  // namespace plat
