#include "sim/services/services.h"

#include "sim/services/at_firmware.h"
#include "sim/services/at_tunnel_service.h"
#include "sim/services/ms_sar_service.h"
#include "sim/services/nvm_service.h"

namespace sim::services {

std::shared_ptr<ServiceModel> MakeServiceModel(const std::filesystem::path& machine_dir, const ModemConfig& config,
                                               ServiceKind kind) {
  switch (kind) {
    case ServiceKind::kMsSar:
      return std::make_shared<MsSarService>(machine_dir);
    case ServiceKind::kNvm:
      return std::make_shared<NvmService>(machine_dir, config.family);
    case ServiceKind::kAtTunnel:
    case ServiceKind::kAtCommand:  // the same wire form: AT text in a set of command 1, the reply text back
      return std::make_shared<AtTunnelService>(std::make_shared<AtFirmware>(machine_dir, config));
  }
  return nullptr;
}

}  // namespace sim::services
