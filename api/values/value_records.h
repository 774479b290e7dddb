// The power-table records as the control library fills and reads them: the parts of the Kestrel
// `ProfilePowerImage` and the Osprey `MaxTxPwrRecord` that the table text changes, and the
// read-back text built from them. Fields are read and written little-endian at the offsets the
// layouts of bridge/messages/records.h give, through the platform's bounds-checked readers and
// writers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "api/values/value_text.h"
#include "bridge/messages/records.h"

namespace krill {

// The bytes the library reserves for each record; the bridge reads and writes within the first
// vexel::ProfilePowerImage::kSize and vexel::MaxTxPwrRecord::kSize of them.
inline constexpr std::size_t kProfilePowerImageBytes = 640;
inline constexpr std::size_t kMaxTxPwrRecordBytes = 1456;
static_assert(kProfilePowerImageBytes >= vexel::ProfilePowerImage::kSize);
static_assert(kMaxTxPwrRecordBytes >= vexel::MaxTxPwrRecord::kSize);

using ProfilePowerImage = std::array<std::uint8_t, kProfilePowerImageBytes>;
using MaxTxPwrRecord = std::array<std::uint8_t, kMaxTxPwrRecordBytes>;

// ---- Kestrel --------------------------------------------------------------------------------------

inline constexpr unsigned kKestrelProfileTables = 3;
inline constexpr std::size_t kKestrel3GBands = vexel::KestrelTableSet::k3gBands;  // 30
inline constexpr std::size_t kKestrel4GBands = vexel::KestrelTableSet::k4gBands;  // 66

constexpr std::size_t KestrelTableAt(unsigned table) {
  return vexel::ProfilePowerImage::kTableOffset + vexel::KestrelTableSet::TableOffset(table);
}
constexpr std::size_t Tx3gPowerAt(unsigned table, std::size_t band_index) {
  return KestrelTableAt(table) + 2 * vexel::KestrelTableSet::k3gWord + 2 * band_index;
}
constexpr std::size_t Tx4gPowerAt(unsigned table, std::size_t band_index) {
  return KestrelTableAt(table) + 2 * vexel::KestrelTableSet::k4gWord + 2 * band_index;
}
static_assert(KestrelTableAt(0) == 6 && KestrelTableAt(1) == 6 + 208 && KestrelTableAt(2) == 6 + 416);
static_assert(Tx3gPowerAt(0, 0) == 6 + 16 && Tx4gPowerAt(0, 0) == 6 + 76);
static_assert(Tx4gPowerAt(2, kKestrel4GBands - 1) + 2 <= vexel::ProfilePowerImage::kSize);

std::uint16_t Tx3gPower(const ProfilePowerImage& image, unsigned table, std::size_t band_index);
std::uint16_t Tx4gPower(const ProfilePowerImage& image, unsigned table, std::size_t band_index);

struct KestrelValueLists {
  std::vector<KestrelValueEntry> bandValue3GVec;
  std::vector<KestrelValueEntry> bandValue4GVec;
};
// Parses the selected technology's pairs and gives each entry the band index of its mask.
KestrelValueLists ParseKestrelValueLists(std::string_view text);
// Writes the values into profile table `table`: kSucceeded, or kNotServed, with the image
// untouched, for a table outside 0..2 or any entry whose value is no plain number within its
// limit (every entry is checked before anything is written, matched or not).
int ApplyKestrelValueLists(const KestrelValueLists& lists, unsigned table, ProfilePowerImage* image);
// The read-back text of profile table `table` (5 lines for 3G, 24 for 4G); empty for a table
// outside 0..2.
std::string KestrelReadBackText(const ProfilePowerImage& image, unsigned table);

// ---- Osprey ---------------------------------------------------------------------------------------

inline constexpr std::size_t k3gCountAt = vexel::MaxTxPwrRecord::kTableOffset + vexel::OspreyPowerTable::k3gCount;
inline constexpr std::size_t k4gCountAt = vexel::MaxTxPwrRecord::kTableOffset + vexel::OspreyPowerTable::k4gCount;
constexpr std::size_t Element3gAt(std::size_t i) {
  return vexel::MaxTxPwrRecord::kTableOffset + vexel::OspreyPowerTable::k3gElements + i * vexel::TxPowerElement::kSize;
}
constexpr std::size_t Element4gAt(std::size_t j) {
  return vexel::MaxTxPwrRecord::kTableOffset + vexel::OspreyPowerTable::k4gElements + j * vexel::TxPowerElement::kSize;
}
static_assert(k3gCountAt == 8 && Element3gAt(0) == 10 && Element3gAt(1) == 22);
static_assert(k4gCountAt == 372 && Element4gAt(0) == 374 && Element4gAt(1) == 386);

inline constexpr std::size_t k3gCapacity = vexel::OspreyPowerTable::k3gCapacity;  // 30
inline constexpr std::size_t k4gCapacity = vexel::OspreyPowerTable::k4gCapacity;  // 90
// The element counts every set writes: the modem's fixed 3G and 4G override lists.
inline constexpr std::uint16_t kOsprey3gElements = 6;
inline constexpr std::uint16_t kOsprey4gElements = 45;

struct OspreyValueLists {
  std::vector<OspreyValueEntry> bandValue3GVec;
  std::vector<OspreyValueEntry> bandValue4GVec;
};
OspreyValueLists ParseOspreyValueLists(std::string_view text);
// Forces the counts to 6 and 45 and writes each value into all four ports of every element of its
// band (band 5 also into the sixth 3G element): kSucceeded, or kNotServed, with the record
// untouched, for any entry whose value is no plain number within its limit (every entry is
// checked before anything is written, also one whose band no element carries or no row names).
int ApplyOspreyValueLists(const OspreyValueLists& lists, MaxTxPwrRecord* record);
// Sets all four ports of the override element at record offset `at` (Element3gAt, Element4gAt)
// to `nvm`, in 1/16 dBm.
void SetElementPorts(std::span<std::uint8_t> record, std::size_t at, std::uint16_t nvm);
// The read-back text: port A of each listed band once, band 6 left out of 3G. Counts above the
// record's capacity are read as the capacity.
std::string OspreyReadBackText(const MaxTxPwrRecord& record);

// Copies `text` with its terminating zero into a get_BodySarValue buffer of
// kBodySarValueTextBytes; a longer text is cut to fit and false is returned.
bool CopyBodySarValueText(std::string_view text, char* buffer);

}  // namespace krill
