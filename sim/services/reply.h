// The two shapes of a service's answer.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/types.h"
#include "sim/service_model.h"

namespace sim::services {

inline ServiceReply Fail(plat::HRESULT status) {
  ServiceReply reply;
  reply.status = status;
  reply.has_payload = false;
  return reply;
}

inline ServiceReply Answer(std::vector<std::uint8_t> payload) {
  ServiceReply reply;
  reply.payload = std::move(payload);
  return reply;
}

}  // namespace sim::services
