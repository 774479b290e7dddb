#include "sim/services/body_sar_settings.h"

#include <vector>

namespace sim::services {

namespace {

std::optional<std::uint8_t> ReadByte(const StateFile& file, std::uint8_t factory, std::uint8_t max) {
  std::vector<std::uint8_t> bytes;
  switch (file.Read(&bytes)) {
    case StateRead::kAbsent:
      return factory;
    case StateRead::kRead:
      if (bytes.size() == 1 && bytes[0] <= max) return bytes[0];
      break;
    case StateRead::kFailed:
      break;
  }
  return std::nullopt;
}

}  // namespace

BodySarSettings::BodySarSettings(const std::filesystem::path& machine_dir)
    : on_(machine_dir / "modem", "body_sar_on"), profile_(machine_dir / "modem", "body_sar_profile") {}

std::optional<std::uint8_t> BodySarSettings::On() const { return ReadByte(on_, kFactoryBodySarOn, 1); }

std::optional<std::uint8_t> BodySarSettings::Profile() const {
  return ReadByte(profile_, kFactoryBodySarProfile, kMaxBodySarProfile);
}

bool BodySarSettings::SetOn(std::uint8_t on) { return on_.Write({on}); }

bool BodySarSettings::SetProfile(std::uint8_t profile) { return profile_.Write({profile}); }

}  // namespace sim::services
