#include "sim/services/sar_table_text.h"

#include "platform/text.h"
#include "sim/services/at_text.h"

namespace sim::services {

namespace {

// 256 bands is far beyond any technology; a longer mask is not worth reading.
constexpr std::size_t kMaxMaskDigits = 64;

// Appends the bands of "0x..." to `out`; false when the mask is malformed, empty or too high.
bool MaskBands(std::string_view mask, Rat rat, std::uint16_t tenths, std::uint16_t max_band,
               std::vector<BandLimit>* out) {
  mask = TrimBlanks(mask);
  if (!StartsWithIgnoreCase(mask, "0x")) return false;
  mask.remove_prefix(2);
  if (mask.empty() || mask.size() > kMaxMaskDigits) return false;
  const std::size_t first = out->size();
  for (std::size_t from_end = 0; from_end < mask.size(); ++from_end) {
    const int digit = plat::HexDigitValue(static_cast<unsigned char>(mask[mask.size() - 1 - from_end]));
    if (digit < 0) return false;
    for (int bit = 0; bit < 4; ++bit) {
      if (!(digit & (1 << bit))) continue;
      const std::size_t band = 4 * from_end + static_cast<std::size_t>(bit) + 1;
      if (band > max_band) return false;
      out->push_back(BandLimit{rat, static_cast<std::uint16_t>(band), tenths});
    }
  }
  return out->size() > first;
}

}  // namespace

std::optional<std::vector<BandLimit>> ParseSarTableText(std::string_view text, std::uint16_t max_3g_band,
                                                        std::uint16_t max_4g_band) {
  TextCursor c(text);
  c.SkipBlanks();
  const auto tech = c.Decimal(2);
  if (!tech || *tech == 0) return std::nullopt;
  const Rat rat = *tech == 1 ? Rat::k3g : Rat::k4g;
  const std::uint16_t max_band = rat == Rat::k3g ? max_3g_band : max_4g_band;
  std::vector<BandLimit> limits;
  do {
    c.SkipBlanks();
    if (!c.Take(",")) return std::nullopt;
    c.SkipBlanks();
    const auto tenths = c.Decimal(MaxTenths(rat));
    c.SkipBlanks();
    if (!tenths || !c.Take(",")) return std::nullopt;
    c.SkipBlanks();
    if (!c.Take("\"")) return std::nullopt;
    const auto mask = c.Until('"');
    if (!mask || !MaskBands(*mask, rat, static_cast<std::uint16_t>(*tenths), max_band, &limits)) return std::nullopt;
    c.SkipBlanks();
  } while (!c.AtEnd());
  return limits;
}

std::string SarTableLine(const BandLimit& limit) {
  static const char kBit[] = "1248";
  const std::size_t bit = limit.band - 1u;
  return std::to_string(static_cast<unsigned>(limit.rat)) + "," + std::to_string(limit.tenths) + ",\"0x" +
         kBit[bit % 4] + std::string(bit / 4, '0') + "\"";
}

}  // namespace sim::services
