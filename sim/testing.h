// In-process hooks for tests that drive the simulated modem through the mobile-broadband
// interfaces (the bridge's tests among them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/service_model.h"

namespace sim::testing {

// Replaces the model of a service in this process; null restores the modem's own.
void SetServiceModel(ServiceKind kind, std::shared_ptr<ServiceModel> model);

// Restores every model, closes every session, forgets the recorded requests and discards the
// completions still pending (none of them is delivered any more).
void ResetAll();

struct RecordedRequest {
  std::string op;          // "open", "close", "query", "set"; data-session requests: "open_data",
                           // "close_data", "write_data"
  std::u16string iface;    // the interface id
  std::u16string service;  // the device-service id as the caller spelled it
  std::uint32_t cid;       // 0 for everything but query and set
  bool had_array;          // false when the caller passed a null SAFEARRAY (or the request has none)
  std::vector<std::uint8_t> data;
  std::uint32_t request_id;  // the id the request returned to its caller
};

// Every device-service request this process made since the last ResetAll, in order.
std::vector<RecordedRequest> Requests();

// Whether the simulator holds the command session of that service open on the first interface.
bool IsCommandSessionOpen(std::u16string_view service_id);

}  // namespace sim::testing
