#include "sim/services/sar_tables.h"

#include <algorithm>
#include <map>

#include "platform/bytes.h"
#include "sim/services/sar_param_item.h"

namespace sim::services {

namespace {

constexpr Rat kRats[] = {Rat::k3g, Rat::k4g};

// Words of an osprey element.
constexpr std::size_t kBandWord = 0;
constexpr std::size_t kReservedWord = 1;
constexpr std::size_t kPortAWord = 2;
constexpr std::size_t kPortCount = 4;

std::size_t ElementWord(std::size_t block, std::size_t element, std::size_t word) {
  return block + 4 + element * kOspreyElementSize + 2 * word;
}

std::size_t KestrelWord(std::size_t table, Rat rat, std::uint16_t band) {
  const std::size_t first = rat == Rat::k3g ? kKestrel3gWord : kKestrel4gWord;
  return kKestrelTableOffset[table] + 2 * (first + band - 1);
}

bool PutOsprey(std::size_t table, const BandLimit& limit, Bytes* item) {
  const std::size_t block = OspreyBlockOffset(table, limit.rat);
  const std::size_t capacity = OspreyCapacity(limit.rat);
  plat::LeReader in(*item);
  plat::LeWriter out(*item);
  std::size_t count = in.U16(block + 2);
  if (count > capacity) return false;
  std::size_t e = 0;
  while (e < count && in.U16(ElementWord(block, e, kBandWord)) != limit.band) ++e;
  if (e == count) {
    if (count == capacity) return false;
    out.U16(block + 2, static_cast<std::uint16_t>(++count));
    out.U16(ElementWord(block, e, kBandWord), limit.band);
    out.U16(ElementWord(block, e, kReservedWord), 0);
  }
  for (std::size_t p = 0; p < kPortCount; ++p)
    out.U16(ElementWord(block, e, kPortAWord + p), Power16FromTenths(limit.tenths));
  return in.ok() && out.ok();
}

void ReadOsprey(std::size_t table, Rat rat, const Bytes& item, std::vector<BandLimit>* out) {
  const std::size_t block = OspreyBlockOffset(table, rat);
  plat::LeReader in(item);
  const std::size_t count = std::min<std::size_t>(in.U16(block + 2), OspreyCapacity(rat));
  std::map<std::uint16_t, std::uint16_t> power_of_band;
  for (std::size_t e = 0; e < count; ++e)
    power_of_band.emplace(in.U16(ElementWord(block, e, kBandWord)), in.U16(ElementWord(block, e, kPortAWord)));
  for (const auto& [band, power] : power_of_band)
    if (band != 0 && power != 0) out->push_back(BandLimit{rat, band, TenthsFromPower16(power)});
}

void ReadKestrel(std::size_t table, Rat rat, const Bytes& item, std::vector<BandLimit>* out) {
  for (std::uint16_t band = 1; band <= MaxBand(ModemFamily::kKestrel, rat); ++band)
    if (const std::uint16_t power = plat::LeReader(item).U16(KestrelWord(table, rat, band)); power != 0)
      out->push_back(BandLimit{rat, band, TenthsFromPower16(power)});
}

std::size_t ItemSize(ModemFamily family) {
  switch (family) {
    case ModemFamily::kOsprey:
      return kOspreySarItemSize;
    case ModemFamily::kKestrel:
      return kKestrelSarItemSize;
    case ModemFamily::kOther:
      break;
  }
  return 0;
}

}  // namespace

std::uint16_t MaxBand(ModemFamily family, Rat rat) {
  // osprey's elements could name any band; its firmware takes the bands kestrel's tables have.
  if (family == ModemFamily::kOther) return 0;
  return static_cast<std::uint16_t>(rat == Rat::k3g ? kKestrel3gBands : kKestrel4gBands);
}

std::size_t ActiveTable(ModemFamily family, std::uint8_t profile) {
  if (family == ModemFamily::kOsprey) return std::min<std::size_t>(profile, 1);
  return std::min<std::size_t>(profile, 2);
}

std::size_t OspreyBlockOffset(std::size_t table, Rat rat) {
  return kOspreyProfileOffset[table] + (rat == Rat::k3g ? kOsprey3gBlock : kOsprey4gBlock);
}

std::size_t OspreyCapacity(Rat rat) { return rat == Rat::k3g ? kOsprey3gCapacity : kOsprey4gCapacity; }

bool PutBandLimits(ModemFamily family, std::size_t table, const std::vector<BandLimit>& limits, Bytes* item) {
  const std::size_t size = ItemSize(family);
  if (size == 0 || item->size() < size) return false;
  Bytes changed = *item;
  for (const BandLimit& limit : limits) {
    if (limit.band == 0 || limit.band > MaxBand(family, limit.rat)) return false;
    if (family == ModemFamily::kOsprey) {
      if (!PutOsprey(table, limit, &changed)) return false;
    } else {
      plat::LeWriter(changed).U16(KestrelWord(table, limit.rat, limit.band), Power16FromTenths(limit.tenths));
    }
  }
  *item = std::move(changed);
  return true;
}

std::optional<std::vector<BandLimit>> BandLimits(ModemFamily family, std::size_t table, const Bytes& item) {
  const std::size_t size = ItemSize(family);
  if (size == 0 || item.size() < size) return std::nullopt;
  std::vector<BandLimit> out;
  for (const Rat rat : kRats) {
    if (family == ModemFamily::kOsprey)
      ReadOsprey(table, rat, item, &out);
    else
      ReadKestrel(table, rat, item, &out);
  }
  return out;
}

}  // namespace sim::services
