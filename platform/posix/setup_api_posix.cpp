#include <string>
#include <utility>
#include <vector>

#include "platform/setup_api.h"
#include "sim/machine.h"

namespace plat {

namespace {

class SimulatedDeviceList final : public PresentDeviceList {
 public:
  explicit SimulatedDeviceList(std::vector<std::string> ids) : ids_(std::move(ids)) {}
  bool Exists(DWORD index) override { return index < ids_.size(); }
  bool InstanceId(DWORD index, std::string* id) override {
    if (index >= ids_.size()) return false;
    // The system's buffer holds 260 characters with the terminator.
    *id = ids_[index].substr(0, 259);
    return true;
  }

 private:
  std::vector<std::string> ids_;
};

}  // namespace

std::unique_ptr<PresentDeviceList> OpenPresentDeviceList() {
  return std::make_unique<SimulatedDeviceList>(sim::SetupApiDevices());
}

}  // namespace plat
