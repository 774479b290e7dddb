// The MS SAR control service: the operating system's back-off state of the modem.
//
// Configuration (command 1). Set request, u32 each: SAR_Mode, backoff_status, ElementCount, then
// ElementCount offset/size pairs and the states they point at (offsets from the start of the
// request), each state an antenna index and a back-off index. The modem keeps one back-off index
// per antenna: a set changes the antennas it names (adding those it has not seen, at most
// kMaxAntennaStates) and leaves the others; ElementCount 0 changes mode and status only. The state
// is kept on the notebook (modem/ms_sar.bin, in the set request's own layout, antennas in
// ascending order), so every process sees the state last set.
//
// Answer to a set and to a query (whatever the query carries): SARMode, SARBackOffStatus,
// SARWifiIntegration (1: this modem has no Wi-Fi integration), ElementCount, the offset/size pairs
// and the states, offsets counted from the start of the answer.
//
// Transmission status (command 2). Set request: channel notification (0 or 1) and hysteresis
// timer in seconds (1 to 5), kept in modem/ms_sar_tx.bin. Answer to a set and to a query:
// notification, transmission status, hysteresis. The modem counts as transmitting while it is
// being written to: from each write of its NVM or of its SAR configuration until the hysteresis
// time has passed (scaled by TXL_TIME_SCALE).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "sim/service_model.h"
#include "sim/services/state_file.h"

namespace sim::services {

inline constexpr std::uint32_t kMsSarCid = 1;
inline constexpr std::uint32_t kMsSarTransmissionCid = 2;
inline constexpr std::size_t kMaxAntennaStates = 8;

struct AntennaState {
  std::uint32_t antenna_index = 0;
  std::uint32_t backoff_index = 0;
  bool operator==(const AntennaState&) const = default;
};

// The state before anything was set: OS-controlled, back-off on, antenna 0 at back-off index 1.
struct MsSarState {
  std::uint32_t mode = 1;
  std::uint32_t backoff_status = 1;
  std::vector<AntennaState> states{AntennaState{0, 1}};
};

// A set request's fields, or nullopt when its length, pairs or states do not fit the layout, or an
// antenna is named twice.
std::optional<MsSarState> DecodeMsSarSet(const Bytes& request);
// The set request that sets `state` (the stored form).
Bytes EncodeMsSarSet(const MsSarState& state);

struct TransmissionSettings {
  std::uint32_t notification = 0;
  std::uint32_t hysteresis_s = 5;
};

class MsSarService final : public ServiceModel {
 public:
  explicit MsSarService(const std::filesystem::path& machine_dir);
  ServiceReply Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;
  ServiceReply Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;

 private:
  ServiceReply SetConfiguration(const Bytes& data);
  ServiceReply SetTransmission(const Bytes& data);
  ServiceReply TransmissionAnswer(const TransmissionSettings& settings) const;
  bool Transmitting(std::uint32_t hysteresis_s) const;

  std::filesystem::path modem_dir_;
  StateFile state_;
  StateFile transmission_;
};

}  // namespace sim::services
