// A device service of the simulated modem. Each service the modem offers (MS SAR control, vendor
// NVM access, vendor AT tunnel, vendor AT command service) is one small model plugged into the
// modem; the platform mechanics around it (sessions, request ids, completions on a platform
// thread, faults, the trace) are the simulator's and are the same for all.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/types.h"

namespace sim {

enum class ServiceKind { kMsSar, kNvm, kAtTunnel, kAtCommand };

// What the modem answers to one query or set.
struct ServiceReply {
  plat::HRESULT status = plat::S_OK;
  bool has_payload = true;  // false: the completion carries no byte array at all
  std::vector<std::uint8_t> payload;
};

class ServiceModel {
 public:
  virtual ~ServiceModel() = default;
  virtual ServiceReply Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) = 0;
  virtual ServiceReply Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) = 0;
};

}  // namespace sim
