#include "bridge/messages/switches.h"

#include <span>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/mbn/session_api.h"
#include "bridge/messages/device_services.h"
#include "bridge/messages/nvm_messages.h"
#include "bridge/messages/reply.h"
#include "platform/bytes.h"
#include "platform/text.h"

namespace vexel {

MsSarConfig g_MsSarConfig = {};

namespace {

constexpr long kNotSupported = static_cast<long>(plat::ERROR_NOT_SUPPORTED);

// One flag byte of SarParamItem, read or written.
long WriteFlag(std::uint32_t offset, std::uint8_t value) {
  const nvm_write_data request{SarParamItem::kId, offset, 1, &value};
  return Set_MBIM_NVM_WRITE(request);
}

// Reads one flag byte. A read that succeeds without data answers nothing, which is a failure here.
long ReadFlag(std::uint32_t offset, std::uint8_t* value) {
  const nvm_read_data request{SarParamItem::kId, offset, 1};
  nvm_read_result result{0, 0, value, 1};
  const long hr = Query_MBIM_NVM_READ(request, &result);
  if (hr == 0 && result.dataBuffer_size != 1) return plat::E_FAIL;
  return hr;
}

long UnknownCommand(const char* name, const char16_t* command) {
  LogLine("%s: ERROR: UNKNOWN COMMAND: %ls\n", name, command);
  return kNotSupported;
}

// What every switch command shares: "?" queries, any other argument it knows sets, a text with
// none is not supported; any failure answers "ERROR". A command that reaches the modem holds its
// ConnectionScope around this.
template <class Set, class Query>
long SwitchCommand(const char* name, const char* what, const char16_t* command, char16_t argument, char16_t* reply,
                   Set set, Query query) {
  long result = 0;
  if (argument == u'?') {
    LogLine("%s: Handle get_%s()\n", name, what);
    result = query();
  } else if (argument) {
    LogLine("%s: Handle set_%s()=%c\n", name, what, static_cast<char>(argument));
    result = set(argument);
  } else {
    result = UnknownCommand(name, command);
  }
  return AnswerResult(reply, result);
}

// A switch kept in a flag byte of SarParamItem (enable, mode), in one connection: the set writes
// the byte once `before_write` succeeded, the query answers the byte as a decimal number.
template <class BeforeWrite>
long FlagSwitch(const char* name, const char* what, const char16_t* command, char16_t* reply, std::uint32_t offset,
                BeforeWrite before_write, bool print_polarity) {
  ConnectionScope connection;
  auto set = [&](char16_t argument) {
    long result = connection.Connect();
    if (result < 0) return result;
    result = before_write(argument);
    if (result != 0) return result;
    return WriteFlag(offset, static_cast<std::uint8_t>(argument - u'0'));
  };
  auto query = [&] {
    long result = connection.Connect();
    if (result < 0) return result;
    std::uint8_t value = 0;
    result = ReadFlag(offset, &value);
    if (result != 0) return result;
    if (print_polarity) ConsolePrintf("mbim_gpio_low_active: %d\n", value);
    WriteReplyNumber(reply, value);
    return 0L;
  };
  return SwitchCommand(name, what, command, SelectArgument(command, u"01?"), reply, set, query);
}

// The query of a registry switch: the stored value, as every reader sees it, as the reply.
long QueryStored(const char* name, const char* what, const char16_t* value_name, char16_t* reply) {
  WriteReplyNumber(reply, ReadSwitchValue(value_name));
  LogLine("%s: get_%s(): %ls\n", name, what, reply);
  return 0;
}

}  // namespace

void ResetMsSarConfig() {
  g_MsSarConfig.SAR_Mode = 1;
  g_MsSarConfig.backoff_status = 1;
  g_MsSarConfig.ElementCount = 1;
  g_MsSarConfig.SARConfigStatusRefList_Offset = 20;
  g_MsSarConfig.SARConfigStatusRefList_Size = 8;
  g_MsSarConfig.SAR_AntennaIndex = 0;
  g_MsSarConfig.SAR_BackOffIndex = 1;
}

char16_t SelectArgument(const char16_t* command, std::u16string_view known) {
  const std::u16string_view text(command, plat::WideLength(command));
  for (char16_t c : known)
    if (text.find(c) != std::u16string_view::npos) return c;
  return 0;
}

int ReadRegistryDWORD(plat::RegistryHive hive, const std::u16string& subkey, const std::u16string& name,
                      std::uint32_t* value) {
  static const char* const kName = "ReadRegistryDWORD";
  std::unique_ptr<plat::RegistryKey> key;
  if (plat::OpenRegistryKey(hive, subkey, &key) != 0 || !key) {
    LogLine("%s: RegOpenKeyEx failed.\n", kName);
    return 1;
  }
  plat::DWORD stored = 0;
  if (key->QueryDword(name, &stored) != 0) {
    LogLine("%s: Read regedit failed\n", kName);
    return 1;
  }
  *value = stored;
  return 1;
}

int WriteRegistryDWORD(plat::RegistryHive hive, const std::u16string& subkey, const std::u16string& name,
                       std::uint32_t value) {
  static const char* const kName = "WriteRegistryDWORD";
  std::unique_ptr<plat::RegistryKey> key;
  if (plat::OpenRegistryKey(hive, subkey, &key) != 0 || !key) {
    LogLine("%s: RegOpenKeyEx failed, try to create it\n", kName);
    std::unique_ptr<plat::RegistryKey> created;
    plat::CreateRegistryKey(hive, subkey, &created);
    created.reset();
    if (plat::OpenRegistryKey(hive, subkey, &key) != 0 || !key) {
      LogLine("%s --: Could not find or create registry key\n", kName);
      return 0;
    }
  }
  LogLine("%s: set registry value %d\n", kName, static_cast<int>(value));
  if (key->SetDword(name, value) != 0) {
    LogLine("%s --: RegSetValueEx failed\n", kName);
    return 0;
  }
  return 1;
}

std::uint32_t ReadSwitchValue(const char16_t* name) {
  std::uint32_t value = 1;
  ReadRegistryDWORD(plat::RegistryHive::kLocalMachine, kSarRegistryKey, name, &value);
  return value >= 2 ? 1 : value;
}

long Set_MBIM_CID_MS_SAR_CONFIG(const MsSarConfig& config, char16_t* reply) {
  static const char* const kName = "Set_MBIM_CID_MS_SAR_CONFIG";
  LogLine("%s \n", kName);
  LogLine("%s: MBIM_MS_SAR_CONTROL_MODE.SAR_Mode: %u\n", kName, config.SAR_Mode);
  LogLine("%s: MBIM_MS_SAR_STATUS backoff_status: %u\n", kName, config.backoff_status);
  LogLine("%s: ElementCount: %u\n", kName, config.ElementCount);
  LogLine("%s: SARConfigStatusRefList.Offset: %u\n", kName, config.SARConfigStatusRefList_Offset);
  LogLine("%s: SARConfigStatusRefList.Size: %u\n", kName, config.SARConfigStatusRefList_Size);
  LogLine("%s: SAR_AntennaIndex: %u\n", kName, config.SAR_AntennaIndex);
  LogLine("%s: SAR_BackOffIndex: %u\n", kName, config.SAR_BackOffIndex);
  std::array<std::uint8_t, MsSarConfig::kBytes> request = config.Serialize();
  std::vector<std::uint8_t> response(kMessageBytes);
  unsigned int length = static_cast<unsigned int>(response.size());
  const long hr = SetCommand(ApiText(g_DetectedInterfaceID), ApiText(kMsSarServiceId), kDeviceServiceCid,
                             static_cast<unsigned int>(request.size()), request.data(), &length, response.data());
  if (hr != 0) {
    WriteReply(reply, u"ERROR");
    return hr;
  }
  if (length == 0) {
    LogLine("%s: ResponseLength is 0\n", kName);
  } else {
    using L = MsSarConfigResponseLayout;
    // Fields past the end of a short response are not there to log: they read as 0.
    plat::LeReader fields(std::span<const std::uint8_t>(response.data(), length));
    auto field = [&](std::size_t at) -> unsigned { return fields.U32(at); };
    const std::uint32_t count = field(L::kElementCount);
    LogLine("%s: SARMode: %u\n", kName, field(L::kMode));
    LogLine("%s: SARBackOffStatus: %u\n", kName, field(L::kBackOffStatus));
    LogLine("%s: SARWifiIntegration: %u\n", kName, field(L::kWifiIntegration));
    LogLine("%s: ElementCount : %u\n", kName, count);
    const bool plausible = count <= (kMessageBytes - L::kPairs) / 8;
    LogLine("%s: SAR_AntennaIndex: %u\n", kName, plausible ? field(L::AntennaIndex(count)) : 0u);
    LogLine("%s: SAR_BackOffIndex: %u\n", kName, plausible ? field(L::BackOffIndex(count)) : 0u);
    ConsoleHexDump("ResponseData: Command Data=", response.data(), length);
  }
  WriteReply(reply, u"OK");
  return 0;
}

long ApiHandleBodySarEnable(const char16_t* command, char16_t* reply) {
  WriteReply(reply, u"OK");
  g_MsSarConfig.SAR_BackOffIndex = ReadSwitchValue(kBodySarOnValue);
  return FlagSwitch("ApiHandleBodySarEnable", "BodySarEnable", command, reply, SarParamItem::kEnableOffset,
                    [reply](char16_t argument) {
                      g_MsSarConfig.backoff_status = static_cast<std::uint32_t>(argument - u'0');
                      return Set_MBIM_CID_MS_SAR_CONFIG(g_MsSarConfig, reply);
                    },
                    false);
}

long ApiHandleBodySarMode(const char16_t* command, char16_t* reply) {
  WriteReply(reply, u"OK");
  return FlagSwitch("ApiHandleBodySarMode", "BodySarMode", command, reply, SarParamItem::kPolarityOffset,
                    [](char16_t) { return 0L; }, true);
}

long ApiHandleBodySarON(const char16_t* command, char16_t* reply) {
  static const char* const kName = "ApiHandleBodySarON";
  static const char* const kWhat = "BodySarON";
  ConnectionScope connection;
  WriteReply(reply, u"OK");
  g_MsSarConfig.backoff_status = 1;
  return SwitchCommand(
      kName, kWhat, command, SelectArgument(command, u"01?"), reply,
      [&](char16_t argument) {
        LogLine("%s: SAR_BackOffIndex=%c\n", kName, static_cast<char>(argument));
        const std::uint32_t index = static_cast<std::uint32_t>(argument - u'0');
        g_MsSarConfig.SAR_BackOffIndex = index;
        long result = connection.Connect();
        if (result < 0) return result;
        result = Set_MBIM_CID_MS_SAR_CONFIG(g_MsSarConfig, reply);
        // The stored index is what the query reports and what the enable command applies again:
        // an index the registry did not take would be reported as set and then quietly undone.
        if (result == 0 &&
            !WriteRegistryDWORD(plat::RegistryHive::kLocalMachine, kSarRegistryKey, kBodySarOnValue, index))
          result = plat::E_FAIL;
        return result;
      },
      [&] { return QueryStored(kName, kWhat, kBodySarOnValue, reply); });
}

// Only the registry: no connection, no modem traffic.
long ApiHandleBodySarProfile(const char16_t* command, char16_t* reply) {
  static const char* const kName = "ApiHandleBodySarProfile";
  static const char* const kWhat = "BodySarProfile";
  WriteReply(reply, u"OK");
  return SwitchCommand(
      kName, kWhat, command, SelectArgument(command, u"012?"), reply,
      [](char16_t argument) {
        const bool stored = WriteRegistryDWORD(plat::RegistryHive::kLocalMachine, kSarRegistryKey,
                                               kBodySarProfileValue, static_cast<std::uint32_t>(argument - u'0')) != 0;
        return stored ? 0L : static_cast<long>(plat::E_FAIL);
      },
      [&] { return QueryStored(kName, kWhat, kBodySarProfileValue, reply); });
}

}  // namespace vexel
