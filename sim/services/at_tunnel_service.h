// The vendor AT tunnel: a set carries one AT command line, in the system's ANSI code page, at the
// start of the payload and padded with zero bytes; its completion carries the modem's reply text
// without a terminator. The tunnel has no query.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/service_model.h"
#include "sim/services/at_firmware.h"

namespace sim::services {

inline constexpr std::uint32_t kAtTunnelCid = 1;

class AtTunnelService final : public ServiceModel {
 public:
  explicit AtTunnelService(std::shared_ptr<AtFirmware> firmware);
  ServiceReply Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;
  ServiceReply Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;

 private:
  std::shared_ptr<AtFirmware> firmware_;
};

}  // namespace sim::services
