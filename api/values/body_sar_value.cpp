#include "api/values/body_sar_value.h"

#include <string>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/result.h"
#include "api/support/global_tools.h"
#include "api/values/band5.h"
#include "platform/bytes.h"
#include "platform/process.h"
#include "platform/text.h"

namespace krill {

namespace {

// The direct-road command is formed in this many bytes, terminating zero included.
constexpr std::size_t kCommandBytes = 4096;

const char kReadCommand[] = "AT+BODYSAR?\r\n";
const char kWriteCommand[] = "at+bodysar=\r\n";

template <class... Args>
void Log(const char* format, Args... args) {
  IGlobalTools::GetApiLog()->WriteLog(IGlobalTools::kLevelInformation, format, args...);
}

// One record exchange with the bridge: kSucceeded, or kCommandFailed with the failure and the
// thread's last error logged.
int Exchange(const char* operation, AtSendFun fun, const char* command, void* record) {
  const BridgeReply reply = CallBridge(fun, command, record);
  if (reply.result != kSucceeded) {
    const int error = static_cast<int>(plat::GetLastError());
    Log("[Information]%s-%s-fail-hr=%d, WOutIno=%s-len=%d-ErrorCode=%d.", operation, FamilyEntryPointName(),
        reply.result, reply.text.c_str(), reply.length, error);
    return kCommandFailed;
  }
  Log("[Information]%s-%s-OK-WOutIno=%s-len=%d.", operation, FamilyEntryPointName(), reply.text.c_str(),
      reply.length);
  return kSucceeded;
}

// The 3G and 4G arrays of profile tables 0 and 1, one line each.
void LogKestrelTables(const ProfilePowerImage& image) {
  for (unsigned t = 0; t < 2; ++t) {
    std::string g3, g4;
    for (std::size_t b = 0; b < kKestrel3GBands; ++b) g3 += (b ? "," : "") + std::to_string(Tx3gPower(image, t, b));
    for (std::size_t b = 0; b < kKestrel4GBands; ++b) g4 += (b ? "," : "") + std::to_string(Tx4gPower(image, t, b));
    Log("[Information] BodySarTxPowerSettings[%d].BodySar_Tx3g_Power=%s", t, g3.c_str());
    Log("[Information] BodySarTxPowerSettings[%d].BodySar_Tx4g_Power=%s", t, g4.c_str());
  }
}

// The active profile as the profile export reports it: kSucceeded with *table set, the export's
// failure, or kNotServed for a profile the image has no table for.
int ActiveKestrelTable(unsigned* table) {
  unsigned int dwTableIndex = 0;
  if (const int r = get_BodySarProfile(&dwTableIndex)) return r;
  if (dwTableIndex >= kKestrelProfileTables) return kNotServed;
  *table = dwTableIndex;
  return kSucceeded;
}

}  // namespace

int ReadKestrelBodySarValueFromModem(ProfilePowerImage* image) {
  if (ntype != kTypeKestrel) return kNotServed;
  const AtSendFun fun = KestrelEntryPoint();
  if (!fun) return kNotAvailable;
  return Exchange("ReadKestrelBodySarValueFromModem", fun, kReadCommand, image->data());
}

int ReadOspreyBodySarValueFromModem(MaxTxPwrRecord* record) {
  const char* command = nullptr;
  if (ntype == kTypeOther) {
    command = "AT+BODYSAR?";
  } else if (ntype == kTypeKestrel || ntype == kTypeOsprey) {
    command = kReadCommand;
  } else {
    return kNotServed;
  }
  // Osprey's entry point for every module type, as the modem's record is read this way.
  const AtSendFun fun = OspreyEntryPoint();
  if (!fun) return kNotAvailable;
  return Exchange("ReadOspreyBodySarValueFromModem", fun, command, record->data());
}

int InitKestrelBodySarValue(const char* text, ProfilePowerImage* image) {
  if (const int r = ReadKestrelBodySarValueFromModem(image)) return r;
  const KestrelValueLists lists = ParseKestrelValueLists(text);
  Log("[Information] InitKestrelBodySarValue bandValue3GVec size=%d, bandValue4GVec=%d.",
      static_cast<int>(lists.bandValue3GVec.size()), static_cast<int>(lists.bandValue4GVec.size()));
  unsigned table = 0;
  if (const int r = ActiveKestrelTable(&table)) return r;
  const int r = ApplyKestrelValueLists(lists, table, image);
  if (r != kSucceeded) Log("[Information] InitKestrelBodySarValue ValueofcrossBorder, text=%s.", text);
  return r;
}

int InitOspreyBodySarValue(const char* text, MaxTxPwrRecord* record) {
  if (const int r = ReadOspreyBodySarValueFromModem(record)) return r;
  const OspreyValueLists lists = ParseOspreyValueLists(text);
  Log("[Information] InitOspreyBodySarValue bandValue3GVec size=%d, bandValue4GVec=%d.",
      static_cast<int>(lists.bandValue3GVec.size()), static_cast<int>(lists.bandValue4GVec.size()));
  const int r = ApplyOspreyValueLists(lists, record);
  if (r != kSucceeded) Log("[Information] InitOspreyBodySarValue ValueofcrossBorder, text=%s.", text);
  return r;
}

int RetKestrelBodySarValue(const ProfilePowerImage& image, char* buffer) {
  unsigned table = 0;
  if (const int r = ActiveKestrelTable(&table)) return r;
  // The read-back text is far below the buffer, so it always fits.
  CopyBodySarValueText(KestrelReadBackText(image, table), buffer);
  return kSucceeded;
}

int RetOspreyBodySarValue(const MaxTxPwrRecord& record, char* buffer) {
  plat::LeReader fields(record);
  Log("[Information]RetOspreyBodySarValue-max_tx_pwr_3g.numOverrideElts=%d", fields.U16(k3gCountAt));
  Log("[Information]RetOspreyBodySarValue-max_tx_pwr_4g.numOverrideElts=%d", fields.U16(k4gCountAt));
  CopyBodySarValueText(OspreyReadBackText(record), buffer);
  return kSucceeded;
}

int set_BodySarValueV2Ex(const char* text) {
  Log("[Information] set_BodySarValueV2Ex enter.");
  // A record that cannot be read or changed as the text says is never written: kNotServed.
  if (ntype == kTypeKestrel) {
    const AtSendFun fun = KestrelEntryPoint();
    if (!fun) return kNotAvailable;
    ProfilePowerImage image{};
    if (InitKestrelBodySarValue(text, &image) != kSucceeded) return kNotServed;
    LogKestrelTables(image);
    if (Exchange("set_BodySarValueV2Ex", fun, kWriteCommand, image.data()) != kSucceeded) return kCommandFailed;
  } else if (ntype == kTypeOsprey) {
    const AtSendFun fun = OspreyEntryPoint();
    if (!fun) return kNotAvailable;
    MaxTxPwrRecord record{};
    if (InitOspreyBodySarValue(text, &record) != kSucceeded) {
      Log("[Information]set_BodySarValueV2Ex-InitOspreyBodySar3GValue-Init3GBodysarValueFail.");
      return kNotServed;
    }
    if (Exchange("set_BodySarValueV2Ex", fun, kWriteCommand, record.data()) != kSucceeded) return kCommandFailed;
  } else {
    return kSucceeded;
  }
  Log("[Information] set_BodySarValueV2Ex done.");
  return kSucceeded;
}

int get_BodySarValueV2Ex(char* buffer) {
  Log("[Information] get_BodySarValueV2Ex enter.");
  int result = kSucceeded;
  if (ntype == kTypeKestrel) {
    const AtSendFun fun = KestrelEntryPoint();
    if (!fun) return kNotAvailable;
    ProfilePowerImage image{};
    const int r = Exchange("get_BodySarValueV2Ex", fun, kReadCommand, image.data());
    LogKestrelTables(image);
    if (r != kSucceeded) return kCommandFailed;
    result = RetKestrelBodySarValue(image, buffer);
  } else if (ntype == kTypeOsprey) {
    const AtSendFun fun = OspreyEntryPoint();
    if (!fun) return kNotAvailable;
    MaxTxPwrRecord record{};
    if (Exchange("get_BodySarValueV2Ex", fun, kReadCommand, record.data()) != kSucceeded) return kCommandFailed;
    result = RetOspreyBodySarValue(record, buffer);
  } else {
    return kSucceeded;
  }
  if (result == kSucceeded) Log("[Information] get_BodySarValueV2Ex done.");
  return result;
}

namespace {

// The opening the two value exports share: the argument checks, the modem held for the whole
// exchange (the read-modify-write of the record, or the direct command and its work-around, as
// one), and the road; `on_road` does the export's own work on a road that was not refused.
int ValueExport(const char* name, char* value, int (*on_road)(Road, char*)) {
  Log("[Information] %s enter.", name);
  if (!value || !TypeServed(true)) return kNotServed;
  const IGlobalTools::ProcessLockScope modem_work;
  int result = kSucceeded;
  const Road road = ChooseRoad(name, true, "nRetV2Ex", &result);
  if (road == Road::kRefused) return result;
  return on_road(road, value);
}

int SetValueOnRoad(Road road, char* pBodySarValue) {
  if (road == Road::kBridge) {
    const int nRetV2Ex = set_BodySarValueV2Ex(pBodySarValue);
    Log("[Information] set_BodySarValue IsMsSarInterface bRet=%d, pCmdValue=%s, nRetV2Ex=%d done.", 1,
        pBodySarValue, nRetV2Ex);
    return nRetV2Ex;
  }
  const std::string command =
      "AT+BODYSAR = " + std::string(pBodySarValue) + (road == Road::kDirectType1 ? "" : "\r\n");
  // A command that does not fit its buffer is refused whole rather than sent cut.
  if (command.size() >= kCommandBytes) {
    Log("[Information] set_BodySarValue command too long, length=%d.", static_cast<int>(command.size()));
    return kNotServed;
  }
  std::string reply;
  // The modem parses the text itself here, and its reply decides: a refusal fails the set for
  // every module type; only a module of neither family may accept without "OK".
  int result =
      IGlobalTools::DirectReplyResult(IGlobalTools::SendAtCommand(command, &reply), reply, ntype != kTypeOther);
  if (result == kSucceeded && ntype == kTypeOsprey) {
    result = ATGTBAND5WAPlanB();
    if (result != kSucceeded) Log("[Information] set_BodySarValue-ATGTBAND5WAPlanB fail");
  }
  Log("[Information] set_BodySarValue done. ");
  return result;
}

int GetValueOnRoad(Road road, char* pBodySarValue) {
  if (road == Road::kBridge) {
    const int nRetV2Ex = get_BodySarValueV2Ex(pBodySarValue);
    Log("[Information] get_BodySarValue IsMsSarInterface bRet=%d, nRetV2Ex=%d done.", 1, nRetV2Ex);
    return nRetV2Ex;
  }
  std::string reply;
  // Every failure leaves the caller's buffer as it was: a refused or unconfirmed reply, one
  // without a value text, and one whose value text would not fit.
  int result = IGlobalTools::DirectReplyResult(
      IGlobalTools::SendAtCommand(road == Road::kDirectType1 ? "AT+BODYSAR?" : kReadCommand, &reply), reply, true);
  if (result == kSucceeded) {
    const std::size_t plus = reply.find('+');
    if (plus == std::string::npos) {
      Log("[Information] get_BodySarValue no value text in response=%s", reply.c_str());
      result = kUnusableReply;
    } else if (reply.size() - plus >= kBodySarValueTextBytes) {
      Log("[Information] get_BodySarValue response longer than %d bytes", static_cast<int>(kBodySarValueTextBytes));
      result = kUnusableReply;
    } else {
      CopyBodySarValueText(std::string_view(reply).substr(plus), pBodySarValue);
    }
  }
  Log("[Information] get_BodySarValue done. ");
  return result;
}

}  // namespace

}  // namespace krill

using namespace krill;

extern "C" TXL_EXPORT int set_BodySarValue(char* pBodySarValue) {
  return ValueExport("set_BodySarValue", pBodySarValue, SetValueOnRoad);
}

extern "C" TXL_EXPORT int get_BodySarValue(char* pBodySarValue) {
  return ValueExport("get_BodySarValue", pBodySarValue, GetValueOnRoad);
}
