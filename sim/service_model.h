// A device service of the simulated modem. Each service the modem offers (MS SAR control, vendor
// NVM access, vendor AT tunnel, vendor AT command service) is one small model plugged into the
// modem; the platform mechanics around it (sessions, request ids, completions on a platform
// thread, faults, the trace) are the simulator's and are the same for all.
//
// A model is only ever called from the simulator's dispatcher thread, one request at a time, in
// the order the requests of its service were made.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/types.h"

namespace sim {

enum class ServiceKind { kMsSar, kNvm, kAtTunnel, kAtCommand };

// The bytes of a payload, an NVM item, a stored state.
using Bytes = std::vector<std::uint8_t>;

// What the modem answers to one query or set.
struct ServiceReply {
  plat::HRESULT status = plat::S_OK;
  bool has_payload = true;  // false: the completion carries no byte array at all
  std::vector<std::uint8_t> payload;
  // Extra time (milliseconds, scaled by TXL_TIME_SCALE) before this completion is delivered, on
  // top of the configured latency; lets a test make one answer arrive after its caller gave up.
  std::uint32_t delay_ms = 0;
};

class ServiceModel {
 public:
  virtual ~ServiceModel() = default;
  virtual ServiceReply Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) = 0;
  virtual ServiceReply Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) = 0;
  // Bytes written on the service's data session. The reply's status completes the write; a
  // payload (when has_payload) then arrives as data read from the device. A service that streams
  // nothing back keeps this default.
  virtual ServiceReply WriteData(const std::vector<std::uint8_t>& data) {
    (void)data;
    ServiceReply reply;
    reply.has_payload = false;
    return reply;
  }
};

}  // namespace sim
