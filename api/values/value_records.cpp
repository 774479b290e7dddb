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

// Sets all four ports of the element at `at` to a value text that passed its limit.
void WritePorts(MaxTxPwrRecord* record, std::size_t at, const std::string& value_text) {
  const auto nvm = static_cast<std::uint16_t>(TenthsToNvm(static_cast<int>(ValueForLimit(value_text))));
  for (std::size_t port : kPorts) PutU16(record->data() + at + port, nvm);
}

// Every entry of a list, whether or not its band is in the table or the record, is a plain number
// within the limit; one that is not refuses the whole text.
template <class Entries, class ValueOf>
bool AllWithin(const Entries& entries, unsigned limit, ValueOf value_of) {
  for (const auto& e : entries)
    if (value_of(e) > limit) return false;
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
  auto value_of = [](const KestrelValueEntry& e) { return static_cast<unsigned long>(e.value); };
  if (!AllWithin(lists.bandValue3GVec, kLimit3G, value_of) || !AllWithin(lists.bandValue4GVec, kLimit4G, value_of))
    return 5;
  for (const KestrelValueEntry& e : lists.bandValue3GVec) {
    if (e.matched && e.band_index < kKestrel3GBands)
      PutU16(image->data() + Tx3gPowerAt(table, e.band_index), static_cast<std::uint16_t>(TenthsToNvm(e.value)));
  }
  for (const KestrelValueEntry& e : lists.bandValue4GVec) {
    if (e.matched && e.band_index < kKestrel4GBands)
      PutU16(image->data() + Tx4gPowerAt(table, e.band_index), static_cast<std::uint16_t>(TenthsToNvm(e.value)));
  }
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

int ApplyOspreyValueLists(const OspreyValueLists& lists, MaxTxPwrRecord* record) {
  constexpr std::size_t kBand5Mirror = 5;  // the sixth 3G element, band 6, follows band 5
  auto value_of = [](const OspreyValueEntry& e) { return ValueForLimit(e.value_text); };
  if (!AllWithin(lists.bandValue3GVec, kLimit3G, value_of) || !AllWithin(lists.bandValue4GVec, kLimit4G, value_of))
    return 5;
  PutU16(record->data() + k3gCountAt, kOsprey3gElements);
  for (std::size_t i = 0; i < kOsprey3gElements; ++i) {
    const std::uint16_t element_band = ElementBand(*record, Element3gAt(i));
    for (const OspreyValueEntry& e : lists.bandValue3GVec) {
      const auto band = FindBand(OspreyBandTable(), e.mask, /*ignore_case=*/false);
      if (!band) continue;
      if (*band == element_band) WritePorts(record, Element3gAt(i), e.value_text);
      if (*band == 5) WritePorts(record, Element3gAt(kBand5Mirror), e.value_text);
    }
  }
  PutU16(record->data() + k4gCountAt, kOsprey4gElements);
  for (std::size_t j = 0; j < kOsprey4gElements; ++j) {
    const std::uint16_t element_band = ElementBand(*record, Element4gAt(j));
    for (const OspreyValueEntry& e : lists.bandValue4GVec) {
      const auto band = FindBand(OspreyBandTable(), e.mask, /*ignore_case=*/false);
      if (band && *band == element_band) WritePorts(record, Element4gAt(j), e.value_text);
    }
  }
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
