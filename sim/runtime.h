// The process-wide state of the simulated modem: the modem as last configured, the models of its
// services, the sessions, the record and trace of requests, and the dispatcher thread that
// delivers completions. Everything here lives for the whole process (it is never destroyed, so
// nothing is torn down under the running dispatcher at exit).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "sim/modem_config.h"
#include "sim/service_model.h"
#include "sim/sim.h"
#include "sim/testing.h"

namespace sim {

// The largest command payload and data-session write the stack accepts.
inline constexpr plat::ULONG kMaxCommandSize = 4096;
inline constexpr plat::ULONG kMaxDataSize = 4096;

// The modem as one manager object saw it when it was created.
struct Modem {
  std::filesystem::path machine_dir;
  ModemConfig config;
  std::array<std::shared_ptr<ServiceModel>, kServiceCount> models;  // the modem's own services
};

// The modem's own model of one service at machine_dir; null for a service not modelled yet. The
// models are the services' business: sim/services defines it.
std::shared_ptr<ServiceModel> MakeServiceModel(const std::filesystem::path& machine_dir, const ModemConfig& config,
                                               ServiceKind kind);

// Reads the notebook's configuration afresh.
std::shared_ptr<const Modem> LoadModem();

// The model that answers a service: a test's replacement, else the modem's own.
std::shared_ptr<ServiceModel> ModelFor(const Modem& modem, ServiceKind kind);

// A fresh request id (never 0), unique in the process.
std::uint32_t NextRequestId();

// Session state, per interface and service, for the whole process.
struct SessionState {
  bool command_open = false;
  bool data_open = false;
};
SessionState Session(std::u16string_view iface, ServiceKind kind);
void SetCommandSession(std::u16string_view iface, ServiceKind kind, bool open);
void SetDataSession(std::u16string_view iface, ServiceKind kind, bool open);

// Keeps a request for testing::Requests(), and appends it to modem/trace.jsonl when TXL_SIM_TRACE
// is 1 (command-session requests only: open, close, query and set).
void RecordRequest(const Modem& modem, testing::RecordedRequest request);

// One completion waiting for its turn on the dispatcher thread.
class Completion {
 public:
  virtual ~Completion() = default;
  // Works out the answer when the completion's time has come. Returns a further delay (in
  // milliseconds before scaling) to wait before Deliver, 0 for none.
  virtual std::uint32_t Prepare() = 0;
  // Calls the sinks.
  virtual void Deliver() = 0;
};

// Queues a completion behind the earlier ones of the same queue (one queue per interface and
// service, so each service completes in request order while the others go on), to be prepared
// once latency_ms (scaled) has passed. Completions queued before the last ResetAll are discarded.
void PostCompletion(const std::string& queue, std::uint32_t latency_ms, std::unique_ptr<Completion> completion);

}  // namespace sim
