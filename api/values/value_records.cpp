#include "api/values/value_records.h"

#include <algorithm>
#include <cstring>

#include "api/support/global_tools.h"

namespace krill {

using vexel::GetU16;
using vexel::PutU16;
using vexel::TxPowerElement;

namespace {

constexpr std::size_t kPorts[] = {TxPowerElement::kPortA, TxPowerElement::kPortB, TxPowerElement::kPortC,
                                  TxPowerElement::kPortD};

// Range-tests and converts a value text, then sets all four ports of the element at `at`.
bool WritePorts(MaxTxPwrRecord* record, std::size_t at, const std::string& value_text, unsigned limit) {
  const unsigned long value = ValueForLimit(value_text);
  if (value > limit) return false;
  const auto nvm = static_cast<std::uint16_t>(TenthsToNvm(static_cast<int>(value)));
  for (std::size_t port : kPorts) PutU16(record->data() + at + port, nvm);
  return true;
}

std::uint16_t ElementBand(const MaxTxPwrRecord& record, std::size_t at) {
  return GetU16(record.data() + at + TxPowerElement::kBand);
}

int PortA(const MaxTxPwrRecord& record, std::size_t at) {
  return static_cast<std::int16_t>(GetU16(record.data() + at + TxPowerElement::kPortA));
}

}  // namespace

std::uint16_t Tx3gPower(const ProfilePowerImage& image, unsigned table, std::size_t band_index) {
  return GetU16(image.data() + Tx3gPowerAt(table, band_index));
}
std::uint16_t Tx4gPower(const ProfilePowerImage& image, unsigned table, std::size_t band_index) {
  return GetU16(image.data() + Tx4gPowerAt(table, band_index));
}

KestrelValueLists ParseKestrelValueLists(std::string_view text) {
  KestrelValueLists lists;
  const Technology tech = ReadSelector(text);
  if (tech == Technology::kNone) return lists;
  auto& list = tech == Technology::k3G ? lists.bandValue3GVec : lists.bandValue4GVec;
  const auto& table = tech == Technology::k3G ? Kestrel3GBandTable() : Kestrel4GBandTable();
  ParseKestrelValueText(text, &list);
  for (KestrelValueEntry& e : list) {
    if (const auto index = FindBand(table, e.mask, /*ignore_case=*/true)) {
      e.band_index = *index;
      e.matched = true;
    }
  }
  return lists;
}

int ApplyKestrelValueLists(const KestrelValueLists& lists, unsigned table, ProfilePowerImage* image) {
  if (table >= kKestrelProfileTables) return 5;
  // Worked on a copy: a refused text leaves the caller's image as the modem gave it.
  ProfilePowerImage work = *image;
  for (const KestrelValueEntry& e : lists.bandValue3GVec) {
    if (e.value > kLimit3G) return 5;
    if (e.matched && e.band_index < kKestrel3GBands)
      PutU16(work.data() + Tx3gPowerAt(table, e.band_index), static_cast<std::uint16_t>(TenthsToNvm(e.value)));
  }
  for (const KestrelValueEntry& e : lists.bandValue4GVec) {
    if (e.value > kLimit4G) return 5;
    if (e.matched && e.band_index < kKestrel4GBands)
      PutU16(work.data() + Tx4gPowerAt(table, e.band_index), static_cast<std::uint16_t>(TenthsToNvm(e.value)));
  }
  *image = work;
  return 0;
}

std::string KestrelReadBackText(const ProfilePowerImage& image, unsigned table) {
  if (table >= kKestrelProfileTables) return {};
  IGlobalTools::ILogEx* log = IGlobalTools::GetApiLog();
  std::string lines;
  for (std::uint16_t i = 0; i < 8; ++i) {
    const auto mask = FindMask(Kestrel3GBandTable(), i);
    if (!mask) continue;
    const std::uint16_t nvm = Tx3gPower(image, table, i);
    log->WriteLog(IGlobalTools::kLevelInformation,
                  "configDada.SAR_Profile_data.BodySarTxPowerSettings[%d].BodySar_Tx3g_Power[%d]=%d", table, i, nvm);
    lines += ReadBackLine(1, NvmToTenths(nvm), *mask);
  }
  for (std::uint16_t j = 0; j < kKestrel4GBands; ++j) {
    const auto mask = FindMask(Kestrel4GBandTable(), j);
    if (!mask) continue;
    const std::uint16_t nvm = Tx4gPower(image, table, j);
    log->WriteLog(IGlobalTools::kLevelInformation,
                  "configDada.SAR_Profile_data.BodySarTxPowerSettings[%d]->BodySar_Tx4g_Power[%d]=%d", table, j, nvm);
    lines += ReadBackLine(2, NvmToTenths(nvm), *mask);
  }
  return ReadBackText(lines);
}

OspreyValueLists ParseOspreyValueLists(std::string_view text) {
  OspreyValueLists lists;
  switch (ReadSelector(text)) {
    case Technology::k3G:
      ParseOspreyValueText(text, &lists.bandValue3GVec);
      break;
    case Technology::k4G:
      ParseOspreyValueText(text, &lists.bandValue4GVec);
      break;
    case Technology::kNone:
      break;
  }
  return lists;
}

int ApplyOspreyValueLists(const OspreyValueLists& lists, MaxTxPwrRecord* target) {
  constexpr std::size_t kBand5Mirror = 5;  // the sixth 3G element, band 6, follows band 5
  // Worked on a copy: a refused text leaves the caller's record as the modem gave it.
  MaxTxPwrRecord work = *target;
  MaxTxPwrRecord* record = &work;
  PutU16(record->data() + k3gCountAt, kOsprey3gElements);
  for (std::size_t i = 0; i < kOsprey3gElements; ++i) {
    const std::uint16_t element_band = ElementBand(*record, Element3gAt(i));
    for (const OspreyValueEntry& e : lists.bandValue3GVec) {
      const auto band = FindBand(OspreyBandTable(), e.mask, /*ignore_case=*/false);
      if (!band) continue;
      if (*band == element_band && !WritePorts(record, Element3gAt(i), e.value_text, kLimit3G)) return 5;
      if (*band == 5 && !WritePorts(record, Element3gAt(kBand5Mirror), e.value_text, kLimit3G)) return 5;
    }
  }
  PutU16(record->data() + k4gCountAt, kOsprey4gElements);
  for (std::size_t j = 0; j < kOsprey4gElements; ++j) {
    const std::uint16_t element_band = ElementBand(*record, Element4gAt(j));
    for (const OspreyValueEntry& e : lists.bandValue4GVec) {
      const auto band = FindBand(OspreyBandTable(), e.mask, /*ignore_case=*/false);
      if (band && *band == element_band && !WritePorts(record, Element4gAt(j), e.value_text, kLimit4G)) return 5;
    }
  }
  *target = work;
  return 0;
}

std::string OspreyReadBackText(const MaxTxPwrRecord& record) {
  std::string lines;
  auto section = [&](int technology, std::size_t count_at, std::size_t capacity, std::size_t (*element_at)(std::size_t)) {
    const std::size_t count = std::min<std::size_t>(GetU16(record.data() + count_at), capacity);
    std::vector<std::uint16_t> listed;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint16_t band = ElementBand(record, element_at(i));
      if (technology == 1 && band == 6) continue;
      if (std::find(listed.begin(), listed.end(), band) != listed.end()) continue;
      const auto mask = FindMask(OspreyBandTable(), band);
      if (!mask) continue;
      listed.push_back(band);
      lines += ReadBackLine(technology, NvmToTenths(PortA(record, element_at(i))), *mask);
    }
  };
  section(1, k3gCountAt, k3gCapacity, Element3gAt);
  section(2, k4gCountAt, k4gCapacity, Element4gAt);
  return ReadBackText(lines);
}

bool CopyBodySarValueText(std::string_view text, char* buffer) {
  const std::size_t n = std::min(text.size(), kBodySarValueTextBytes - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n == text.size();
}

}  // namespace krill
