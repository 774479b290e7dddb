#include "api/values/value_records.h"

#include <algorithm>
#include <cstring>

#include "api/result.h"
#include "api/support/global_tools.h"
#include "platform/bytes.h"

namespace krill {

using vexel::TxPowerElement;

namespace {

// Sets all four ports of the element at `at` to a value text that passed its limit.
void WritePorts(MaxTxPwrRecord* record, std::size_t at, const std::string& value_text) {
  SetElementPorts(*record, at, static_cast<std::uint16_t>(TenthsToNvm(static_cast<int>(ValueForLimit(value_text)))));
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
  return plat::LeReader(record).U16(at + TxPowerElement::kBand);
}

int PortA(const MaxTxPwrRecord& record, std::size_t at) {
  return plat::LeReader(record).I16(at + TxPowerElement::kPortA);
}

}  // namespace

void SetElementPorts(std::span<std::uint8_t> record, std::size_t at, std::uint16_t nvm) {
  plat::LeWriter(record)
      .U16(at + TxPowerElement::kPortA, nvm)
      .U16(at + TxPowerElement::kPortB, nvm)
      .U16(at + TxPowerElement::kPortC, nvm)
      .U16(at + TxPowerElement::kPortD, nvm);
}

std::uint16_t Tx3gPower(const ProfilePowerImage& image, unsigned table, std::size_t band_index) {
  return plat::LeReader(image).U16(Tx3gPowerAt(table, band_index));
}
std::uint16_t Tx4gPower(const ProfilePowerImage& image, unsigned table, std::size_t band_index) {
  return plat::LeReader(image).U16(Tx4gPowerAt(table, band_index));
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
  if (table >= kKestrelProfileTables) return kNotServed;
  auto value_of = [](const KestrelValueEntry& e) { return static_cast<unsigned long>(e.value); };
  if (!AllWithin(lists.bandValue3GVec, kLimit3G, value_of) || !AllWithin(lists.bandValue4GVec, kLimit4G, value_of))
    return kNotServed;
  plat::LeWriter writer(*image);
  auto write = [&](const std::vector<KestrelValueEntry>& entries, std::size_t bands,
                   std::size_t (*power_at)(unsigned, std::size_t)) {
    for (const KestrelValueEntry& e : entries)
      if (e.matched && e.band_index < bands)
        writer.U16(power_at(table, e.band_index), static_cast<std::uint16_t>(TenthsToNvm(e.value)));
  };
  write(lists.bandValue3GVec, kKestrel3GBands, Tx3gPowerAt);
  write(lists.bandValue4GVec, kKestrel4GBands, Tx4gPowerAt);
  return kSucceeded;
}

std::string KestrelReadBackText(const ProfilePowerImage& image, unsigned table) {
  if (table >= kKestrelProfileTables) return {};
  IGlobalTools::ILogEx* log = IGlobalTools::GetApiLog();
  std::string lines;
  // Each band index that the technology's table names, in index order.
  auto section = [&](int technology, const std::vector<BandRow>& bands, std::uint16_t indexes,
                     std::uint16_t (*power)(const ProfilePowerImage&, unsigned, std::size_t), const char* log_format) {
    for (std::uint16_t i = 0; i < indexes; ++i) {
      const auto mask = FindMask(bands, i);
      if (!mask) continue;
      const std::uint16_t nvm = power(image, table, i);
      log->WriteLog(IGlobalTools::kLevelInformation, log_format, table, i, nvm);
      lines += ReadBackLine(technology, NvmToTenths(nvm), *mask);
    }
  };
  // No 3G band sits beyond index 7.
  section(1, Kestrel3GBandTable(), 8, Tx3gPower,
          "configDada.SAR_Profile_data.BodySarTxPowerSettings[%d].BodySar_Tx3g_Power[%d]=%d");
  section(2, Kestrel4GBandTable(), kKestrel4GBands, Tx4gPower,
          "configDada.SAR_Profile_data.BodySarTxPowerSettings[%d]->BodySar_Tx4g_Power[%d]=%d");
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
    return kNotServed;
  plat::LeWriter(*record).U16(k3gCountAt, kOsprey3gElements);
  for (std::size_t i = 0; i < kOsprey3gElements; ++i) {
    const std::uint16_t element_band = ElementBand(*record, Element3gAt(i));
    for (const OspreyValueEntry& e : lists.bandValue3GVec) {
      const auto band = FindBand(OspreyBandTable(), e.mask, /*ignore_case=*/false);
      if (!band) continue;
      if (*band == element_band) WritePorts(record, Element3gAt(i), e.value_text);
      if (*band == 5) WritePorts(record, Element3gAt(kBand5Mirror), e.value_text);
    }
  }
  plat::LeWriter(*record).U16(k4gCountAt, kOsprey4gElements);
  for (std::size_t j = 0; j < kOsprey4gElements; ++j) {
    const std::uint16_t element_band = ElementBand(*record, Element4gAt(j));
    for (const OspreyValueEntry& e : lists.bandValue4GVec) {
      const auto band = FindBand(OspreyBandTable(), e.mask, /*ignore_case=*/false);
      if (band && *band == element_band) WritePorts(record, Element4gAt(j), e.value_text);
    }
  }
  return kSucceeded;
}

std::string OspreyReadBackText(const MaxTxPwrRecord& record) {
  std::string lines;
  auto section = [&](int technology, std::size_t count_at, std::size_t capacity, std::size_t (*element_at)(std::size_t)) {
    const std::size_t count = std::min<std::size_t>(plat::LeReader(record).U16(count_at), capacity);
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
