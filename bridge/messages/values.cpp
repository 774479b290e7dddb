#include "bridge/messages/values.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "bridge/front_door/interface_selection.h"
#include "bridge/log/bridge_log.h"
#include "bridge/mbn/session_api.h"
#include "bridge/messages/nvm_messages.h"
#include "bridge/messages/records.h"
#include "bridge/messages/reply.h"
#include "bridge/messages/switches.h"
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

// Reads `size` bytes of SarParamItem; anything shorter than asked for is a failure, so a table
// is never built from part of one.
long ReadTable(long (*read)(const nvm_read_data&, nvm_read_result*), std::uint32_t offset, std::uint32_t size,
               std::uint8_t* out) {
  const nvm_read_data request{SarParamItem::kId, offset, size};
  nvm_read_result result{0, 0, out, size};
  const long hr = read(request, &result);
  if (hr == 0 && result.dataBuffer_size != size) return plat::E_FAIL;
  return hr;
}

// The common start: the profile from the registry and the read request it gives.
std::uint32_t StartValueCommand(const char* name, std::uint32_t* offset, std::uint32_t* size, bool osprey) {
  const std::uint32_t profile = ReadSwitchValue(kBodySarProfileValue);
  LogLine("%s: working on profile table --> ( %d )\n", name, static_cast<int>(profile));
  *offset = osprey ? OspreyPowerTable::ItemOffset(profile) : 0;
  *size = static_cast<std::uint32_t>(osprey ? OspreyPowerTable::kSize : KestrelTableSet::kSize);
  LogLine("nvm_read_data.nvm_offset %d\n", static_cast<int>(*offset));
  LogLine("nvm_read_data.dataBuffer_size %d\n", static_cast<int>(*size));
  return profile;
}

long Finish(long result, char16_t* reply) {
  DisconnectInterface();
  if (result != 0) WriteReply(reply, u"ERROR");
  return result;
}

// Copies the counted elements of one block of the caller's table over the modem's.
void OverlayBlock(const std::uint8_t* from, std::uint8_t* to, std::size_t count_at, std::size_t elements_at,
                  std::uint16_t count) {
  PutU16(to + count_at, count);
  std::memcpy(to + elements_at, from + elements_at, std::size_t{count} * TxPowerElement::kSize);
}

}  // namespace

long ApiHandleBodySarValue(const char16_t* command, char16_t* reply, std::uint8_t* TableBuffer) {
  static const char* const kName = "ApiHandleBodySarValue";
  using T = OspreyPowerTable;
  WriteReply(reply, u"OK");
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  StartValueCommand(kName, &offset, &size, true);
  const ValueCommand kind = Classify(command);
  if (kind == ValueCommand::kUnknown) {
    LogLine("%s: ERROR: UNKNOWN COMMAND: %ls\n", kName, command);
    return Finish(kNotSupported, reply);
  }
  // Without a record there is nothing to fill or take: refused before any modem traffic.
  if (!TableBuffer) return Finish(plat::E_POINTER, reply);
  std::uint8_t* image = TableBuffer + MaxTxPwrRecord::kTableOffset;
  if (kind == ValueCommand::kQuery) {
    LogLine("%s: Handle get_BodySarValue\n", kName);
    long result = ConnectMBIMInterface();
    if (result < 0) return Finish(result, reply);
    std::vector<std::uint8_t> table(T::kSize);
    result = ReadTable(Query_MBIM_NVM_READ_MTPM, offset, size, table.data());
    if (result == 0) {
      std::memcpy(image, table.data(), T::k4gRat);
      std::memcpy(image + T::k4gRat, table.data() + T::k4gRat, T::kSize - T::k4gRat);
      ConsolePrintf("max_tx_pwr_3g.rat: %d\n", image[T::k3gRat]);
      ConsolePrintf("max_tx_pwr_3g.pOverrideFlag: %d\n", image[T::k3gOverrideFlag]);
      ConsolePrintf("max_tx_pwr_3g.numOverrideElts: %d\n", GetU16(image + T::k3gCount));
      ConsolePrintf("max_tx_pwr_4g.rat: %d\n", image[T::k4gRat]);
      ConsolePrintf("max_tx_pwr_4g.pOverrideFlag: %d\n", image[T::k4gOverrideFlag]);
      ConsolePrintf("max_tx_pwr_4g.numOverrideElts: %d\n", GetU16(image + T::k4gCount));
    }
    return Finish(result, reply);
  }
  LogLine("%s: Handle set_BodySarValue()\n", kName);
  const std::uint16_t count3g = GetU16(image + T::k3gCount);
  const std::uint16_t count4g = GetU16(image + T::k4gCount);
  // Counts beyond the blocks' capacities would write past the table: nothing is sent.
  if (count3g > T::k3gCapacity || count4g > T::k4gCapacity) {
    LogLine("%s: element counts %u and %u exceed %u and %u\n", kName, count3g, count4g,
            static_cast<unsigned>(T::k3gCapacity), static_cast<unsigned>(T::k4gCapacity));
    return Finish(plat::E_INVALIDARG, reply);
  }
  long result = ConnectMBIMInterface();
  if (result < 0) return Finish(result, reply);
  std::vector<std::uint8_t> table(T::kSize);
  result = ReadTable(Query_MBIM_NVM_READ_MTPM, offset, size, table.data());
  if (result != 0) return Finish(result, reply);
  OverlayBlock(image, table.data(), T::k3gCount, T::k3gElements, count3g);
  LogLine("max_tx_pwr_3g.numOverrideElts: %d\n", count3g);
  OverlayBlock(image, table.data(), T::k4gCount, T::k4gElements, count4g);
  LogLine("max_tx_pwr_4g.numOverrideElts: %d\n", count4g);
  const nvm_write_data write{SarParamItem::kId, offset, size, table.data()};
  return Finish(Set_MBIM_NVM_WRITE_MTPM(write), reply);
}

long ApiHandleBodySarValueSTA(const char16_t* command, char16_t* reply, std::uint8_t* TableBuffer) {
  static const char* const kName = "ApiHandleBodySarValueSTA";
  using K = KestrelTableSet;
  WriteReply(reply, u"OK");
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  StartValueCommand(kName, &offset, &size, false);
  const ValueCommand kind = Classify(command);
  if (kind == ValueCommand::kUnknown) {
    LogLine("%s: ERROR: UNKNOWN COMMAND: %ls\n", kName, command);
    return Finish(kNotSupported, reply);
  }
  if (!TableBuffer) return Finish(plat::E_POINTER, reply);
  std::uint8_t* image = TableBuffer + ProfilePowerImage::kTableOffset;
  if (kind == ValueCommand::kQuery) {
    LogLine("%s: Handle get_BodySarValue\n", kName);
    long result = ConnectMBIMInterface();
    if (result < 0) return Finish(result, reply);
    std::vector<std::uint8_t> set(K::kSize);
    result = ReadTable(Query_MBIM_NVM_READ_STA, offset, size, set.data());
    if (result == 0) std::memcpy(image, set.data(), K::kSize);
    return Finish(result, reply);
  }
  long result = ConnectMBIMInterface();
  if (result < 0) return Finish(result, reply);
  LogLine("%s: Handle set_BodySarValue()\n", kName);
  std::vector<std::uint8_t> set(K::kSize);
  result = ReadTable(Query_MBIM_NVM_READ_STA, offset, size, set.data());
  if (result != 0) return Finish(result, reply);
  // Table 0 whole; tables 1 and 2 without their heads; the flag bytes stay the modem's.
  std::memcpy(set.data() + K::TableOffset(0), image + K::TableOffset(0), K::kTableSize);
  for (std::size_t t = 1; t < K::kTables; ++t) {
    const std::size_t body = K::TableOffset(t) + K::kHeadSize;
    std::memcpy(set.data() + body, image + body, K::kBodySize);
  }
  const nvm_write_data write{SarParamItem::kId, offset, size, set.data()};
  return Finish(Set_MBIM_NVM_WRITE_STA(write), reply);
}

}  // namespace vexel
