#include "bridge/messages/values.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/messages/nvm_messages.h"
#include "bridge/messages/records.h"
#include "bridge/messages/reply.h"
#include "bridge/messages/switches.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace vexel {

namespace {

enum class ValueCommand { kSet, kQuery, kUnknown };

ValueCommand Classify(const char16_t* command) {
  const std::u16string_view text(command, plat::WideLength(command));
  if (text.find(u"at+bodysar=") != std::u16string_view::npos) return ValueCommand::kSet;
  if (text.find(u'?') != std::u16string_view::npos) return ValueCommand::kQuery;
  return ValueCommand::kUnknown;
}

constexpr long kNotSupported = static_cast<long>(plat::ERROR_NOT_SUPPORTED);

using Bytes = std::vector<std::uint8_t>;

// What tells the two families' value commands apart; the command itself is one routine.
struct ValueFamily {
  bool osprey;                // the active profile's table (Osprey) or the whole table set (Kestrel)
  std::size_t imageOffset;    // of the table image within the caller's record
  long (*read)(const nvm_read_data&, nvm_read_result*);
  long (*write)(const nvm_write_data&);
  bool announcesSetFirst;     // the set is logged before it connects (else once connected)
  // The caller's image refused before any traffic: nonzero (logged) to refuse.
  long (*check)(const char* name, std::span<const std::uint8_t> image);
  // The caller's image merged into the modem's table, as the family's set takes it.
  void (*merge)(std::span<const std::uint8_t> image, std::span<std::uint8_t> table);
  // What a query shows of the table it copied out.
  void (*show)(std::span<const std::uint8_t> image);
};

// Reads `size` bytes of SarParamItem; anything shorter than asked for is a failure, so a table
// is never built from part of one.
long ReadTable(const ValueFamily& family, std::uint32_t offset, std::uint32_t size, std::uint8_t* out) {
  const nvm_read_data request{SarParamItem::kId, offset, size};
  nvm_read_result result{0, 0, out, size};
  const long hr = family.read(request, &result);
  if (hr == 0 && result.dataBuffer_size != size) return plat::E_FAIL;
  return hr;
}

// The common start: the profile from the registry and the read request it gives.
void StartValueCommand(const char* name, const ValueFamily& family, std::uint32_t* offset, std::uint32_t* size) {
  const std::uint32_t profile = ReadSwitchValue(kBodySarProfileValue);
  LogLine("%s: working on profile table --> ( %d )\n", name, static_cast<int>(profile));
  *offset = family.osprey ? OspreyPowerTable::ItemOffset(profile) : 0;
  *size = static_cast<std::uint32_t>(family.osprey ? OspreyPowerTable::kSize : KestrelTableSet::kSize);
  LogLine("nvm_read_data.nvm_offset %d\n", static_cast<int>(*offset));
  LogLine("nvm_read_data.dataBuffer_size %d\n", static_cast<int>(*size));
}

long RunValueCommand(const char* name, const ValueFamily& family, ConnectionScope& connection,
                     const char16_t* command, std::uint8_t* TableBuffer) {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  StartValueCommand(name, family, &offset, &size);
  const ValueCommand kind = Classify(command);
  if (kind == ValueCommand::kUnknown) {
    LogLine("%s: ERROR: UNKNOWN COMMAND: %ls\n", name, command);
    return kNotSupported;
  }
  // Without a record there is nothing to fill or take: refused before any modem traffic.
  if (!TableBuffer) return plat::E_POINTER;
  const std::span<std::uint8_t> image(TableBuffer + family.imageOffset, size);
  Bytes table(size);
  if (kind == ValueCommand::kQuery) {
    LogLine("%s: Handle get_BodySarValue\n", name);
    long result = connection.Connect();
    if (result < 0) return result;
    result = ReadTable(family, offset, size, table.data());
    if (result != 0) return result;
    std::copy(table.begin(), table.end(), image.begin());
    family.show(image);
    return 0;
  }
  // Taken once: what is checked is what is merged.
  const Bytes wanted(image.begin(), image.end());
  if (family.announcesSetFirst) LogLine("%s: Handle set_BodySarValue()\n", name);
  if (const long refused = family.check(name, wanted)) return refused;
  long result = connection.Connect();
  if (result < 0) return result;
  if (!family.announcesSetFirst) LogLine("%s: Handle set_BodySarValue()\n", name);
  result = ReadTable(family, offset, size, table.data());
  if (result != 0) return result;
  family.merge(wanted, table);
  const nvm_write_data write{SarParamItem::kId, offset, size, table.data()};
  return family.write(write);
}

// ---- Osprey: one profile's table, a 3G and a 4G block of counted override elements ----------------

using T = OspreyPowerTable;

void ShowOspreyTable(std::span<const std::uint8_t> image) {
  plat::LeReader r(image);
  ConsolePrintf("max_tx_pwr_3g.rat: %d\n", r.U8(T::k3gRat));
  ConsolePrintf("max_tx_pwr_3g.pOverrideFlag: %d\n", r.U8(T::k3gOverrideFlag));
  ConsolePrintf("max_tx_pwr_3g.numOverrideElts: %d\n", r.U16(T::k3gCount));
  ConsolePrintf("max_tx_pwr_4g.rat: %d\n", r.U8(T::k4gRat));
  ConsolePrintf("max_tx_pwr_4g.pOverrideFlag: %d\n", r.U8(T::k4gOverrideFlag));
  ConsolePrintf("max_tx_pwr_4g.numOverrideElts: %d\n", r.U16(T::k4gCount));
}

// Counts beyond the blocks' capacities would write past the table: nothing is sent.
long CheckOspreyCounts(const char* name, std::span<const std::uint8_t> image) {
  plat::LeReader r(image);
  const std::uint16_t count3g = r.U16(T::k3gCount);
  const std::uint16_t count4g = r.U16(T::k4gCount);
  if (count3g <= T::k3gCapacity && count4g <= T::k4gCapacity) return 0;
  LogLine("%s: element counts %u and %u exceed %u and %u\n", name, count3g, count4g,
          static_cast<unsigned>(T::k3gCapacity), static_cast<unsigned>(T::k4gCapacity));
  return plat::E_INVALIDARG;
}

// Copies the counted elements of one block of the caller's table over the modem's, with the count.
void OverlayBlock(std::span<const std::uint8_t> from, std::span<std::uint8_t> to, std::size_t count_at,
                  std::size_t elements_at, const char* caption) {
  const std::uint16_t count = plat::LeReader(from).U16(count_at);
  plat::LeWriter(to).U16(count_at, count);
  const std::size_t bytes = std::size_t{count} * TxPowerElement::kSize;
  std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(elements_at), bytes,
              to.begin() + static_cast<std::ptrdiff_t>(elements_at));
  LogLine("%s: %d\n", caption, static_cast<int>(count));
}

// The modem's rat and override flags stay; only the counted elements and the counts are taken.
void MergeOspreyTable(std::span<const std::uint8_t> image, std::span<std::uint8_t> table) {
  OverlayBlock(image, table, T::k3gCount, T::k3gElements, "max_tx_pwr_3g.numOverrideElts");
  OverlayBlock(image, table, T::k4gCount, T::k4gElements, "max_tx_pwr_4g.numOverrideElts");
}

constexpr ValueFamily kOsprey{.osprey = true,
                              .imageOffset = MaxTxPwrRecord::kTableOffset,
                              .read = Query_MBIM_NVM_READ_MTPM,
                              .write = Set_MBIM_NVM_WRITE_MTPM,
                              .announcesSetFirst = true,
                              .check = CheckOspreyCounts,
                              .merge = MergeOspreyTable,
                              .show = ShowOspreyTable};

// ---- Kestrel: the whole table set, flags and three profile tables --------------------------------

using K = KestrelTableSet;

long AcceptAnyImage(const char*, std::span<const std::uint8_t>) { return 0; }
void ShowNothing(std::span<const std::uint8_t>) {}

// Table 0 whole; tables 1 and 2 without their heads; the flag bytes stay the modem's.
void MergeKestrelTables(std::span<const std::uint8_t> image, std::span<std::uint8_t> table) {
  auto copy = [&](std::size_t at, std::size_t bytes) {
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(at), bytes, table.begin() + static_cast<std::ptrdiff_t>(at));
  };
  copy(K::TableOffset(0), K::kTableSize);
  for (std::size_t t = 1; t < K::kTables; ++t) copy(K::TableOffset(t) + K::kHeadSize, K::kBodySize);
}

constexpr ValueFamily kKestrel{.osprey = false,
                               .imageOffset = ProfilePowerImage::kTableOffset,
                               .read = Query_MBIM_NVM_READ_STA,
                               .write = Set_MBIM_NVM_WRITE_STA,
                               .announcesSetFirst = false,
                               .check = AcceptAnyImage,
                               .merge = MergeKestrelTables,
                               .show = ShowNothing};

long ValueHandler(const char* name, const ValueFamily& family, const char16_t* command, char16_t* reply,
                  std::uint8_t* TableBuffer) {
  ConnectionScope connection;
  WriteReply(reply, u"OK");
  return AnswerResult(reply, RunValueCommand(name, family, connection, command, TableBuffer));
}

}  // namespace

long ApiHandleBodySarValue(const char16_t* command, char16_t* reply, std::uint8_t* TableBuffer) {
  return ValueHandler("ApiHandleBodySarValue", kOsprey, command, reply, TableBuffer);
}

long ApiHandleBodySarValueSTA(const char16_t* command, char16_t* reply, std::uint8_t* TableBuffer) {
  return ValueHandler("ApiHandleBodySarValueSTA", kKestrel, command, reply, TableBuffer);
}

}  // namespace vexel
