// The NVM item that holds the modem's body-SAR power tables, as each family leaves the factory.
// Power values are in 1/16 dBm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/modem_config.h"

namespace sim::services {

inline constexpr std::uint32_t kSarParamItem = 0x103d0000u;

// osprey: two flag bytes, then two profiles of one 3G and one 4G override block each.
inline constexpr std::size_t kOspreySarItemSize = 2898;
inline constexpr std::size_t kOspreyProfileOffset[2] = {2, 1450};
inline constexpr std::size_t kOspreyProfileSize = 1448;
// Within a profile, a 3G and a 4G block: rat byte, override flag byte, u16 numOverrideElts, then
// elements of six u16 words (band, reserved, ports A to D).
inline constexpr std::size_t kOsprey3gBlock = 0;
inline constexpr std::size_t kOsprey4gBlock = 364;
inline constexpr std::size_t kOsprey3gCapacity = 30;
inline constexpr std::size_t kOsprey4gCapacity = 90;
inline constexpr std::size_t kOspreyElementSize = 12;

// kestrel: two flag bytes, then three tables of a 16-byte head and per-band power words.
inline constexpr std::size_t kKestrelSarItemSize = 626;
inline constexpr std::size_t kKestrelTableOffset[3] = {2, 210, 418};
inline constexpr std::size_t kKestrelTableSize = 208;
// Word index of band 1 in a table; band b is the word b - 1 further on.
inline constexpr std::size_t kKestrel3gWord = 8;
inline constexpr std::size_t kKestrel4gWord = 38;
inline constexpr std::size_t kKestrel3gBands = 30;
inline constexpr std::size_t kKestrel4gBands = 66;

// The item's factory bytes; empty for a family without it.
std::vector<std::uint8_t> FactorySarParamItem(ModemFamily family);

}  // namespace sim::services
