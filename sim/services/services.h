// The modem's own device services, one model per service kind.
#pragma once

#include <filesystem>
#include <memory>

#include "sim/modem_config.h"
#include "sim/service_model.h"

namespace sim::services {

// The model of one service of the modem at machine_dir; null for a service not modelled yet.
std::shared_ptr<ServiceModel> MakeServiceModel(const std::filesystem::path& machine_dir, const ModemConfig& config,
                                               ServiceKind kind);

}  // namespace sim::services
