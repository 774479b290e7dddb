// Byte layouts of the records the bridge exchanges with the modem and with its callers, declared
// once. Every multi-byte field is little-endian and is read and written through plat::LeReader and
// plat::LeWriter at the offsets below, never by laying a struct over bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/bytes.h"

namespace vexel {

// ---- Vendor NVM messages -------------------------------------------------------------------------

struct NvmReadRequestLayout {
  static constexpr std::size_t kNvmId = 0;
  static constexpr std::size_t kOffset = 4;
  static constexpr std::size_t kSize = 8;
  static constexpr std::size_t kBytes = 12;
};
struct NvmReadResponseLayout {
  static constexpr std::size_t kNvmId = 0;
  static constexpr std::size_t kSize = 4;
  static constexpr std::size_t kData = 8;
};
struct NvmWriteRequestLayout {
  static constexpr std::size_t kNvmId = 0;
  static constexpr std::size_t kOffset = 4;
  static constexpr std::size_t kSize = 8;
  static constexpr std::size_t kData = 12;
};

// Every request and response of the device services fits this many bytes.
inline constexpr std::size_t kMessageBytes = 4096;
inline constexpr std::size_t kMaxNvmWriteData = kMessageBytes - NvmWriteRequestLayout::kData;  // 4084
inline constexpr std::size_t kMaxNvmReadData = kMessageBytes - NvmReadResponseLayout::kData;   // 4088

// ---- SarParamItem (vendor NVM item 0x103d0000) ------------------------------------------------------

struct SarParamItem {
  static constexpr std::uint32_t kId = 0x103d0000;
  static constexpr std::uint32_t kEnableOffset = 0;    // body-SAR enable flag
  static constexpr std::uint32_t kPolarityOffset = 1;  // sensor polarity (mbim_gpio_low_active)
  static constexpr std::uint32_t kOspreyTablesOffset = 2;
};

// ---- Power tables ----------------------------------------------------------------------------------

// One override element: six 16-bit words, band number, a carried word, ports A to D in 1/16 dBm.
struct TxPowerElement {
  static constexpr std::size_t kBand = 0;
  static constexpr std::size_t kCarried = 2;
  static constexpr std::size_t kPortA = 4;
  static constexpr std::size_t kPortB = 6;
  static constexpr std::size_t kPortC = 8;
  static constexpr std::size_t kPortD = 10;
  static constexpr std::size_t kSize = 12;
};

// The Osprey power table of one profile (`mtpm_tx_power_table` entry): a 3G and a 4G block.
struct OspreyPowerTable {
  static constexpr std::size_t k3gRat = 0;
  static constexpr std::size_t k3gOverrideFlag = 1;
  static constexpr std::size_t k3gCount = 2;
  static constexpr std::size_t k3gElements = 4;
  static constexpr std::size_t k3gCapacity = 30;
  static constexpr std::size_t k4gRat = k3gElements + k3gCapacity * TxPowerElement::kSize;  // 364
  static constexpr std::size_t k4gOverrideFlag = k4gRat + 1;
  static constexpr std::size_t k4gCount = k4gRat + 2;
  static constexpr std::size_t k4gElements = k4gRat + 4;
  static constexpr std::size_t k4gCapacity = 90;
  static constexpr std::size_t kSize = k4gElements + k4gCapacity * TxPowerElement::kSize;  // 1448

  // Offset of a profile's table within SarParamItem (computed in 16 bits, as the modem's map is).
  static constexpr std::uint16_t ItemOffset(std::uint32_t profile) {
    return static_cast<std::uint16_t>(profile * kSize + SarParamItem::kOspreyTablesOffset);
  }
};
static_assert(OspreyPowerTable::k4gRat == 364);
static_assert(OspreyPowerTable::k4gCount == 366);
static_assert(OspreyPowerTable::k4gElements == 368);
static_assert(OspreyPowerTable::kSize == 1448);
static_assert(OspreyPowerTable::ItemOffset(0) == 2 && OspreyPowerTable::ItemOffset(1) == 1450);

// The Kestrel table set: the whole item from byte 0 (flags, then three profile tables).
struct KestrelTableSet {
  static constexpr std::size_t kFlags = 2;
  static constexpr std::size_t kTableSize = 208;  // 104 16-bit words
  static constexpr std::size_t kHeadSize = 16;    // words 0 to 7
  static constexpr std::size_t kBodySize = kTableSize - kHeadSize;
  static constexpr std::size_t k3gWord = 8;   // BodySar_Tx3g_Power[0..29]
  static constexpr std::size_t k3gBands = 30;
  static constexpr std::size_t k4gWord = 38;  // BodySar_Tx4g_Power[0..65]
  static constexpr std::size_t k4gBands = 66;
  static constexpr std::size_t kTables = 3;
  static constexpr std::size_t TableOffset(std::size_t t) { return kFlags + t * kTableSize; }
  static constexpr std::size_t kSize = kFlags + kTables * kTableSize;  // 626
};
static_assert(KestrelTableSet::TableOffset(1) == 210 && KestrelTableSet::TableOffset(2) == 418);
static_assert(KestrelTableSet::kSize == 626);
static_assert(KestrelTableSet::k4gWord + KestrelTableSet::k4gBands == KestrelTableSet::kTableSize / 2);

// `TableBuffer`, the caller's power-table record: the Osprey form (`MaxTxPwrRecord`) and the
// Kestrel form (`ProfilePowerImage`). The bytes before the table image are the caller's own.
struct MaxTxPwrRecord {
  static constexpr std::size_t kTableOffset = 6;
  static constexpr std::size_t kSize = kTableOffset + OspreyPowerTable::kSize;  // 1454
};
struct ProfilePowerImage {
  static constexpr std::size_t kTableOffset = 4;
  static constexpr std::size_t kSize = kTableOffset + KestrelTableSet::kSize;  // 630
};
static_assert(MaxTxPwrRecord::kSize == 1454 && ProfilePowerImage::kSize == 630);
static_assert(MaxTxPwrRecord::kTableOffset + OspreyPowerTable::k3gCount == 8);
static_assert(MaxTxPwrRecord::kTableOffset + OspreyPowerTable::k4gCount == 372);

// ---- MS SAR configuration ------------------------------------------------------------------------

// The MBIM_CID_MS_SAR_CONFIG set request: seven 32-bit fields in this order.
struct MsSarConfig {
  std::uint32_t SAR_Mode;
  std::uint32_t backoff_status;
  std::uint32_t ElementCount;
  std::uint32_t SARConfigStatusRefList_Offset;
  std::uint32_t SARConfigStatusRefList_Size;
  std::uint32_t SAR_AntennaIndex;
  std::uint32_t SAR_BackOffIndex;

  static constexpr std::size_t kBytes = 28;
  std::array<std::uint8_t, kBytes> Serialize() const {
    std::array<std::uint8_t, kBytes> out{};
    const std::uint32_t fields[] = {SAR_Mode, backoff_status, ElementCount, SARConfigStatusRefList_Offset,
                                    SARConfigStatusRefList_Size, SAR_AntennaIndex, SAR_BackOffIndex};
    plat::LeWriter writer(out);
    for (std::size_t i = 0; i < 7; ++i) writer.U32(4 * i, fields[i]);
    return out;
  }
};

// The response, as read (only logged).
struct MsSarConfigResponseLayout {
  static constexpr std::size_t kMode = 0;
  static constexpr std::size_t kBackOffStatus = 4;
  static constexpr std::size_t kWifiIntegration = 8;
  static constexpr std::size_t kElementCount = 12;
  static constexpr std::size_t kPairs = 16;
  static constexpr std::size_t AntennaIndex(std::uint32_t count) { return kPairs + 8 * std::size_t{count}; }
  static constexpr std::size_t BackOffIndex(std::uint32_t count) { return AntennaIndex(count) + 4; }
};

}  // namespace vexel
