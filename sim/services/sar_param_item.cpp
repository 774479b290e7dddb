#include "sim/services/sar_param_item.h"

#include <array>
#include <initializer_list>
#include <vector>

#include "platform/bytes.h"

namespace sim::services {

namespace {

// One osprey override element: the band, a reserved word, and the limits of ports A to D.
struct Override {
  std::uint16_t band;
  std::array<std::uint16_t, 4> ports;
};

constexpr std::uint16_t Dbm16(double dbm) { return static_cast<std::uint16_t>(dbm * 16); }

constexpr std::uint8_t kOsprey3gRat = 1;
constexpr std::uint8_t kOsprey4gRat = 2;
// Modems leave the factory with this word set in every element.
constexpr std::uint16_t kOspreyElementReserved = 0;

// Profile 0 is the modem at full power; profile 1 backs off 3 dB on every port and adds 4G band
// 25, so that the profiles differ in count as well as in value.
const std::initializer_list<Override> kOsprey3g = {
    {1, {Dbm16(23.5), Dbm16(23.0), Dbm16(23.5), Dbm16(23.0)}},
    {2, {Dbm16(23.0), Dbm16(22.5), Dbm16(23.0), Dbm16(22.5)}},
    {4, {Dbm16(22.5), Dbm16(22.0), Dbm16(22.5), Dbm16(22.0)}},
    {5, {Dbm16(23.0), Dbm16(22.5), Dbm16(23.0), Dbm16(22.5)}}};
const std::initializer_list<Override> kOsprey4g = {
    {1, {Dbm16(23.0), Dbm16(22.5), Dbm16(23.0), Dbm16(22.5)}},
    {2, {Dbm16(22.5), Dbm16(22.0), Dbm16(22.5), Dbm16(22.0)}},
    {3, {Dbm16(22.0), Dbm16(21.5), Dbm16(22.0), Dbm16(21.5)}},
    {4, {Dbm16(22.5), Dbm16(22.0), Dbm16(22.5), Dbm16(22.0)}},
    {5, {Dbm16(23.0), Dbm16(22.5), Dbm16(23.0), Dbm16(22.5)}},
    {7, {Dbm16(21.5), Dbm16(21.0), Dbm16(21.5), Dbm16(21.0)}},
    {12, {Dbm16(23.0), Dbm16(22.5), Dbm16(23.0), Dbm16(22.5)}},
    {13, {Dbm16(23.0), Dbm16(22.5), Dbm16(23.0), Dbm16(22.5)}}};
constexpr Override kOspreyProfile1Band25 = {25, {Dbm16(19.5), Dbm16(19.0), Dbm16(19.5), Dbm16(19.0)}};
constexpr std::uint16_t kOspreyProfileBackOff = Dbm16(3.0);

std::vector<Override> OspreyProfile(const std::initializer_list<Override>& full_power, std::size_t profile) {
  std::vector<Override> elements(full_power);
  for (Override& o : elements) {
    for (std::uint16_t& port : o.ports) port = static_cast<std::uint16_t>(port - profile * kOspreyProfileBackOff);
  }
  return elements;
}

// Unused slots after the elements stay zero.
void PutOspreyBlock(Bytes& item, std::size_t at, std::uint8_t rat, const std::vector<Override>& elements) {
  item[at] = rat;
  item[at + 1] = 1;  // pOverrideFlag: the elements below apply
  plat::LeWriter out(item);
  out.U16(at + 2, static_cast<std::uint16_t>(elements.size()));
  std::size_t e = at + 4;
  for (const Override& o : elements) {
    out.U16(e, o.band);
    out.U16(e + 2, kOspreyElementReserved);
    for (std::size_t p = 0; p < 4; ++p) out.U16(e + 4 + 2 * p, o.ports[p]);
    e += kOspreyElementSize;
  }
}

Bytes OspreyItem() {
  static_assert(kOsprey4gBlock + 4 + kOsprey4gCapacity * kOspreyElementSize == kOspreyProfileSize);
  static_assert(kOsprey3gBlock + 4 + kOsprey3gCapacity * kOspreyElementSize == kOsprey4gBlock);
  static_assert(kOspreyProfileOffset[1] + kOspreyProfileSize == kOspreySarItemSize);
  Bytes item(kOspreySarItemSize, 0);  // body-SAR off, sensor polarity 0
  for (std::size_t p = 0; p < 2; ++p) {
    std::vector<Override> elements_4g = OspreyProfile(kOsprey4g, p);
    if (p == 1) elements_4g.push_back(kOspreyProfile1Band25);
    PutOspreyBlock(item, kOspreyProfileOffset[p] + kOsprey3gBlock, kOsprey3gRat, OspreyProfile(kOsprey3g, p));
    PutOspreyBlock(item, kOspreyProfileOffset[p] + kOsprey4gBlock, kOsprey4gRat, elements_4g);
  }
  return item;
}

// Full-power limits per band of the kestrel tables; table t backs off 2 dB per step.
struct BandPower {
  std::uint16_t band;
  std::uint16_t power;
};
const std::initializer_list<BandPower> kKestrel3g = {
    {1, Dbm16(23.5)}, {2, Dbm16(23.0)}, {4, Dbm16(22.5)}, {5, Dbm16(23.0)}, {8, Dbm16(23.5)}};
const std::initializer_list<BandPower> kKestrel4g = {
    {1, Dbm16(23.0)},  {2, Dbm16(22.5)},  {3, Dbm16(22.0)},  {4, Dbm16(22.5)},  {5, Dbm16(23.0)},  {7, Dbm16(21.5)},
    {8, Dbm16(23.0)},  {12, Dbm16(23.0)}, {13, Dbm16(23.0)}, {17, Dbm16(23.0)}, {20, Dbm16(22.5)}, {25, Dbm16(22.5)},
    {26, Dbm16(23.0)}, {28, Dbm16(22.5)}, {38, Dbm16(21.5)}, {41, Dbm16(21.5)}, {66, Dbm16(22.5)}};
constexpr std::uint16_t kKestrelStepBackOff = Dbm16(2.0);

Bytes KestrelItem() {
  static_assert(kKestrelTableOffset[2] + kKestrelTableSize == kKestrelSarItemSize);
  static_assert(kKestrel3gWord + kKestrel3gBands == kKestrel4gWord);
  static_assert(kKestrel4gWord + kKestrel4gBands == kKestrelTableSize / 2);
  Bytes item(kKestrelSarItemSize, 0);  // both flags clear
  plat::LeWriter out(item);
  for (std::size_t t = 0; t < 3; ++t) {
    const std::size_t at = kKestrelTableOffset[t];
    // Head: format version 1.2, the table's number, the 3G and 4G band counts, the head and body
    // sizes in bytes, and a marker pair the firmware checks before trusting the table.
    const std::uint16_t head[8] = {0x0102, static_cast<std::uint16_t>(t + 1), 30, 66, 16, 192, 0xA55A, 0x5AA5};
    for (std::size_t w = 0; w < 8; ++w) out.U16(at + 2 * w, head[w]);
    const auto back_off = static_cast<std::uint16_t>(t * kKestrelStepBackOff);
    for (const BandPower& b : kKestrel3g)
      out.U16(at + 2 * (kKestrel3gWord + b.band - 1), static_cast<std::uint16_t>(b.power - back_off));
    for (const BandPower& b : kKestrel4g)
      out.U16(at + 2 * (kKestrel4gWord + b.band - 1), static_cast<std::uint16_t>(b.power - back_off));
  }
  return item;
}

}  // namespace

std::vector<std::uint8_t> FactorySarParamItem(ModemFamily family) {
  switch (family) {
    case ModemFamily::kOsprey:
      return OspreyItem();
    case ModemFamily::kKestrel:
      return KestrelItem();
    case ModemFamily::kOther:
      break;
  }
  return {};
}

}  // namespace sim::services
