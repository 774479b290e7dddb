// The configuration of the simulated modem: modem/modem.ini of the notebook over an embedded
// default. Every key absent from the file keeps the default of the configured family, and a value
// that cannot be understood is reported and leaves the default standing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "sim/service_model.h"

namespace sim {

// The layout of the modem's NVM items and of its AT firmware.
enum class ModemFamily { kOsprey, kKestrel, kOther };

// The request kinds a fault can be attached to.
enum class ServiceOp { kOpen, kClose, kQuery, kSet };

inline constexpr std::size_t kServiceCount = 4;
inline constexpr std::size_t kOpCount = 4;

inline constexpr std::size_t Index(ServiceKind k) { return static_cast<std::size_t>(k); }
inline constexpr std::size_t Index(ServiceOp o) { return static_cast<std::size_t>(o); }

struct OpFault {
  bool drop = false;                  // the completion never comes
  std::optional<plat::HRESULT> fail;  // the completion carries this status
  bool empty = false;                 // S_OK without a byte array
};

struct Faults {
  std::array<std::array<OpFault, kOpCount>, kServiceCount> ops{};
  std::array<bool, kServiceCount> session_open{};         // the command session reports open
  std::array<bool, kServiceCount> request_id_mismatch{};  // completions carry another request id
  std::uint32_t latency_ms = 0;                           // before every completion (scaled)
  std::optional<plat::HRESULT> get_interfaces;            // GetInterfaces fails with it
};

// One [at_replies] entry: the firmware gives `reply` (escapes already decoded) instead of its own
// answer to every command text that starts with `prefix` (letter case ignored).
struct AtReply {
  std::string prefix;
  std::string reply;
};

struct ModemConfig {
  ModemFamily family = ModemFamily::kOsprey;
  std::uint32_t interfaces = 1;
  std::string model;
  std::string firmware;
  std::string imei;
  std::string manufacturer;
  std::string custom_data_class;
  std::string iccid;
  std::string subscriber_id;
  std::int32_t ready_state = 1;  // MBN_READY_STATE
  std::array<bool, kServiceCount> services{true, true, true, true};
  Faults faults;
  std::vector<std::string> setupapi_devices;
  std::vector<AtReply> at_replies;  // in file order
  // What could not be understood, one message per problem; empty for a clean file.
  std::vector<std::string> warnings;

  const OpFault& Fault(ServiceKind kind, ServiceOp op) const { return faults.ops[Index(kind)][Index(op)]; }
  bool HasService(ServiceKind kind) const { return services[Index(kind)]; }
};

// The embedded default of a family (the modem the notebook has when modem.ini is absent is the
// osprey one).
ModemConfig DefaultModemConfig(ModemFamily family);

// The configuration the text of a modem.ini describes. Never fails: problems go to `warnings`.
ModemConfig ParseModemConfig(std::string_view ini_text);

// The configuration of the notebook at machine_dir: its modem/modem.ini, or the default when the
// file is absent. Warnings are also written to standard error.
ModemConfig LoadModemConfig(const std::filesystem::path& machine_dir);

// The id of the index-th mobile-broadband interface: a braced upper-case GUID, the same in every
// process.
std::u16string InterfaceId(std::uint32_t index);

// The name a service has in modem.ini and in diagnostics ("ms_sar", "nvm", ...).
std::string_view ServiceName(ServiceKind kind);
// The device-service id of a service, as the stack publishes it.
std::u16string_view ServiceId(ServiceKind kind);
// Which service a device-service id names (letter case ignored); nullopt for any other text.
std::optional<ServiceKind> ServiceKindFromId(std::u16string_view id);

}  // namespace sim
