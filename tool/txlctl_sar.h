// txlctl's view of the MS SAR control service: the configuration and transmission-status messages
// built and read byte by byte (32-bit little-endian fields), and shown as text or JSON. Pure: the
// session that carries them is txlctl_session's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace txlctl {

using Bytes = std::vector<std::uint8_t>;

// The device service and its two commands.
inline constexpr char16_t kMsSarService[] = u"{68223D04-9F6C-4E0F-822D-28441FB72340}";
inline constexpr std::uint32_t kSarConfigCid = 1;
inline constexpr std::uint32_t kSarTransmissionCid = 2;

// The most states one set carries; txlctl refuses more before anything is sent.
inline constexpr std::size_t kMaxSarStates = 32;
inline constexpr std::uint32_t kMaxHysteresisS = 5;

struct SarState {
  std::uint32_t antenna = 0;
  std::uint32_t backoff_index = 0;
};

struct SarConfig {
  bool host = true;              // SAR mode 1: the host controls the back-off; 0: the device
  bool backoff = true;           // back-off enabled
  bool wifi_integrated = false;  // answers only: 0 integrated, 1 not integrated
  std::vector<SarState> states;
};

struct TransmissionStatus {
  bool notification = false;
  bool active = false;  // answers only
  std::uint32_t hysteresis_s = 0;
};

// A configuration answer: mode, back-off status, Wi-Fi integration, element count, that many
// offset/size pairs (from the start of the answer) and the states they point at. Nullopt, with
// the reason in *why, when a field is out of range or a pair points outside the answer.
std::optional<SarConfig> DecodeSarConfig(const Bytes& answer, std::string* why);
// A configuration set: mode, back-off status, element count, pairs, states (no Wi-Fi field).
Bytes EncodeSarConfigSet(const SarConfig& config);

// A transmission-status answer: channel notification, transmission status, hysteresis.
std::optional<TransmissionStatus> DecodeTransmissionStatus(const Bytes& answer, std::string* why);
// A transmission-status set: channel notification, hysteresis.
Bytes EncodeTransmissionSet(bool notification, std::uint32_t hysteresis_s);

// Whether `held` holds what `wanted` asked: mode, status and each state's index (antennas not
// asked about may hold anything).
bool SarHeld(const SarConfig& wanted, const SarConfig& held);

// "antenna 0: back-off index 1" lines, and the JSON array [{"antenna":0,"backoff_index":1}].
std::string SarStatesText(const std::vector<SarState>& states);
std::string SarStatesJson(const std::vector<SarState>& states);

}  // namespace txlctl
