// What the modem's services provide to the mechanics around them (declared in sim/): the model of
// each service, and the factory contents of the NVM items whose layouts they know.
#include "sim/nvm_store.h"
#include "sim/runtime.h"
#include "sim/services/at_firmware.h"
#include "sim/services/at_tunnel_service.h"
#include "sim/services/ms_sar_service.h"
#include "sim/services/nvm_service.h"
#include "sim/services/sar_param_item.h"

namespace sim {

std::shared_ptr<ServiceModel> MakeServiceModel(const std::filesystem::path& machine_dir, const ModemConfig& config,
                                               ServiceKind kind) {
  using namespace services;
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

std::vector<std::uint8_t> FactoryNvmItem(ModemFamily family, std::uint32_t item) {
  if (item == services::kSarParamItem) return services::FactorySarParamItem(family);
  return {};
}

}  // namespace sim
