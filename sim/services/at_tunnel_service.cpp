#include "sim/services/at_tunnel_service.h"

#include <algorithm>
#include <string_view>

#include "sim/services/reply.h"
#include "sim/services/status.h"

namespace sim::services {

AtTunnelService::AtTunnelService(std::shared_ptr<AtFirmware> firmware) : firmware_(std::move(firmware)) {}

ServiceReply AtTunnelService::Query(std::uint32_t, const std::vector<std::uint8_t>&) { return Fail(kUnknownCommand); }

ServiceReply AtTunnelService::Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) {
  if (cid != kAtTunnelCid) return Fail(kUnknownCommand);
  const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  const std::string_view text(reinterpret_cast<const char*>(data.data()), static_cast<std::size_t>(end - data.begin()));
  const std::string reply = firmware_->Execute(text);
  return Answer(std::vector<std::uint8_t>(reply.begin(), reply.end()));
}

}  // namespace sim::services
