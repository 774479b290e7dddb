// The body-SAR limits of each family's SAR parameter item, seen band by band: where a band's
// limit lives in a table, and which table the firmware's profile setting selects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/modem_config.h"
#include "sim/services/sar_table_text.h"

namespace sim::services {

// The highest band a technology may name on the family; 0 when the family keeps no tables.
std::uint16_t MaxBand(ModemFamily family, Rat rat);

// The table a profile setting (0..2) selects: osprey has two, so 2 means its second.
std::size_t ActiveTable(ModemFamily family, std::uint8_t profile);

// Sets each band's limit (tenths, stored as 1/16 dBm) in `table` of the item, in the given order.
// osprey: all four ports of the band's override element, a new element appended when the band has
// none. False, with the item untouched, when the limits do not fit: a full block, an element count
// beyond the capacity, an item too short for the table.
bool PutBandLimits(ModemFamily family, std::size_t table, const std::vector<BandLimit>& limits, Bytes* item);

// The bands of `table` with a non-zero limit (tenths, truncated), 3G then 4G, bands ascending;
// osprey reads port A of the first element of a band. nullopt when the item is too short.
std::optional<std::vector<BandLimit>> BandLimits(ModemFamily family, std::size_t table, const Bytes& item);

// osprey: where a profile's block of a technology starts in the item, and its element capacity.
std::size_t OspreyBlockOffset(std::size_t table, Rat rat);
std::size_t OspreyCapacity(Rat rat);

}  // namespace sim::services
