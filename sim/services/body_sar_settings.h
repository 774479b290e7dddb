// The body-SAR settings the firmware keeps itself rather than in an NVM item: whether back-off is
// on, and which profile (0..2) selects the active table. Each lives in its own state file on the
// notebook (modem/body_sar_on.bin, modem/body_sar_profile.bin, one byte each), so that a setting
// is replaced whole and two processes changing different settings cannot undo each other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "sim/services/state_file.h"

namespace sim::services {

inline constexpr std::uint8_t kFactoryBodySarOn = 1;
inline constexpr std::uint8_t kFactoryBodySarProfile = 1;
inline constexpr std::uint8_t kMaxBodySarProfile = 2;

class BodySarSettings {
 public:
  explicit BodySarSettings(const std::filesystem::path& machine_dir);

  // The factory value while nothing was set; nullopt when the file cannot be read or holds
  // anything but one byte in range.
  std::optional<std::uint8_t> On() const;
  std::optional<std::uint8_t> Profile() const;
  // The caller has checked the range.
  bool SetOn(std::uint8_t on);
  bool SetProfile(std::uint8_t profile);

 private:
  StateFile on_;
  StateFile profile_;
};

}  // namespace sim::services
