// The body-SAR table as AT text: a technology, then per band group a limit in tenths of a dBm and
// a hexadecimal band mask in quotes, e.g. 1,200,"0x1",190,"0x2" (3G: band 1 at 20.0 dBm, band 2
// at 19.0 dBm). Bit k of a mask is band k + 1. The modem keeps limits in 1/16 dBm.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::services {

enum class Rat : std::uint8_t { k3g = 1, k4g = 2 };

// One band's limit as the text carries it.
struct BandLimit {
  Rat rat;
  std::uint16_t band;    // 1-based
  std::uint16_t tenths;  // of a dBm
};

// What a technology's modem can transmit at most: 23.5 dBm on 3G, 23.0 dBm on 4G.
constexpr std::uint16_t MaxTenths(Rat rat) { return rat == Rat::k3g ? 235 : 230; }

// Both conversions truncate, so 201 tenths is stored as 321/16 dBm and reads back as 200.
constexpr std::uint16_t Power16FromTenths(std::uint16_t tenths) {
  return static_cast<std::uint16_t>(std::uint32_t{tenths} * 16 / 10);
}
constexpr std::uint16_t TenthsFromPower16(std::uint16_t power16) {
  return static_cast<std::uint16_t>(std::uint32_t{power16} * 10 / 16);
}

// The limits of `tech,value,"mask"[,value,"mask"]...` in text order (a mask's bands ascending).
// nullopt for anything the modem refuses: a malformed text, an unknown technology, a value above
// MaxTenths, a mask naming no band or a band above max_band of its technology.
std::optional<std::vector<BandLimit>> ParseSarTableText(std::string_view text, std::uint16_t max_3g_band,
                                                        std::uint16_t max_4g_band);

// The read-back form of one limit: tech,value,"0x..." with the band's single bit.
std::string SarTableLine(const BandLimit& limit);

}  // namespace sim::services
