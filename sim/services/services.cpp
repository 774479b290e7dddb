#include "sim/services/services.h"

#include "sim/services/nvm_service.h"

namespace sim::services {

std::shared_ptr<ServiceModel> MakeServiceModel(const std::filesystem::path& machine_dir, const ModemConfig& config,
                                               ServiceKind kind) {
  switch (kind) {
    case ServiceKind::kNvm:
      return std::make_shared<NvmService>(machine_dir, config.family);
    default:
      return nullptr;
  }
}

}  // namespace sim::services
