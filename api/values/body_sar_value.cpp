#include "api/values/body_sar_value.h"

#include <string>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/support/global_tools.h"
#include "api/values/band5.h"
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

// The family's bound entry point, binding it on first need; null when it cannot be had.
AtSendFun KestrelEntry() {
  if (!KestrelVexelAtSendFun) GetKestrelVexelAtFun();
  return KestrelVexelAtSendFun;
}
AtSendFun OspreyEntry() {
  if (!vexelAtSendFun) GetVexelAtFun();
  return vexelAtSendFun;
}

const char* Token() { return ntype == kTypeKestrel ? "KestrelVexelAtSendFun" : "vexelAtSendFun"; }

// One record exchange with the bridge: 0, or 3 with the failure and the thread's last error logged.
int Exchange(const char* operation, AtSendFun fun, const char* command, void* record) {
  const BridgeReply reply = CallBridge(fun, command, record);
  if (reply.result != 0) {
    const int error = static_cast<int>(plat::GetLastError());
    Log("[Information]%s-%s-fail-hr=%d, WOutIno=%s-len=%d-ErrorCode=%d.", operation, Token(), reply.result,
        reply.text.c_str(), reply.length, error);
    return 3;
  }
  Log("[Information]%s-%s-OK-WOutIno=%s-len=%d.", operation, Token(), reply.text.c_str(), reply.length);
  return 0;
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

// The active profile as the profile export reports it: 0 with *table set, or the failure.
int ActiveKestrelTable(unsigned* table) {
  unsigned int dwTableIndex = 0;
  if (const int r = get_BodySarProfile(&dwTableIndex)) return r;
  if (dwTableIndex >= kKestrelProfileTables) return 5;
  *table = dwTableIndex;
  return 0;
}

}  // namespace

int ReadKestrelBodySarValueFromModem(ProfilePowerImage* image) {
  if (ntype != kTypeKestrel) return 5;
  const AtSendFun fun = KestrelEntry();
  if (!fun) return 2;
  return Exchange("ReadKestrelBodySarValueFromModem", fun, kReadCommand, image->data());
}

int ReadOspreyBodySarValueFromModem(MaxTxPwrRecord* record) {
  const char* command = nullptr;
  if (ntype == kTypeOther) {
    command = "AT+BODYSAR?";
  } else if (ntype == kTypeKestrel || ntype == kTypeOsprey) {
    command = kReadCommand;
  } else {
    return 5;
  }
  const AtSendFun fun = OspreyEntry();
  if (!fun) return 2;
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
  if (r != 0) Log("[Information] InitKestrelBodySarValue ValueofcrossBorder, text=%s.", text);
  return r;
}

int InitOspreyBodySarValue(const char* text, MaxTxPwrRecord* record) {
  if (const int r = ReadOspreyBodySarValueFromModem(record)) return r;
  const OspreyValueLists lists = ParseOspreyValueLists(text);
  Log("[Information] InitOspreyBodySarValue bandValue3GVec size=%d, bandValue4GVec=%d.",
      static_cast<int>(lists.bandValue3GVec.size()), static_cast<int>(lists.bandValue4GVec.size()));
  const int r = ApplyOspreyValueLists(lists, record);
  if (r != 0) Log("[Information] InitOspreyBodySarValue ValueofcrossBorder, text=%s.", text);
  return r;
}

int RetKestrelBodySarValue(const ProfilePowerImage& image, char* buffer) {
  unsigned table = 0;
  if (const int r = ActiveKestrelTable(&table)) return r;
  // The read-back text is far below the buffer, so it always fits.
  CopyBodySarValueText(KestrelReadBackText(image, table), buffer);
  return 0;
}

int RetOspreyBodySarValue(const MaxTxPwrRecord& record, char* buffer) {
  Log("[Information]RetOspreyBodySarValue-max_tx_pwr_3g.numOverrideElts=%d", vexel::GetU16(record.data() + k3gCountAt));
  Log("[Information]RetOspreyBodySarValue-max_tx_pwr_4g.numOverrideElts=%d", vexel::GetU16(record.data() + k4gCountAt));
  CopyBodySarValueText(OspreyReadBackText(record), buffer);
  return 0;
}

int set_BodySarValueV2Ex(const char* text) {
  Log("[Information] set_BodySarValueV2Ex enter.");
  if (ntype == kTypeKestrel) {
    const AtSendFun fun = KestrelEntry();
    if (!fun) return 2;
    ProfilePowerImage image{};
    if (InitKestrelBodySarValue(text, &image) != 0) return 5;
    LogKestrelTables(image);
    if (Exchange("set_BodySarValueV2Ex", fun, kWriteCommand, image.data()) != 0) return 3;
  } else if (ntype == kTypeOsprey) {
    const AtSendFun fun = OspreyEntry();
    if (!fun) return 2;
    MaxTxPwrRecord record{};
    if (InitOspreyBodySarValue(text, &record) != 0) {
      Log("[Information]set_BodySarValueV2Ex-InitOspreyBodySar3GValue-Init3GBodysarValueFail.");
      return 5;
    }
    if (Exchange("set_BodySarValueV2Ex", fun, kWriteCommand, record.data()) != 0) return 3;
  } else {
    return 0;
  }
  Log("[Information] set_BodySarValueV2Ex done.");
  return 0;
}

int get_BodySarValueV2Ex(char* buffer) {
  Log("[Information] get_BodySarValueV2Ex enter.");
  int result = 0;
  if (ntype == kTypeKestrel) {
    const AtSendFun fun = KestrelEntry();
    if (!fun) return 2;
    ProfilePowerImage image{};
    const int r = Exchange("get_BodySarValueV2Ex", fun, kReadCommand, image.data());
    LogKestrelTables(image);
    if (r != 0) return 3;
    result = RetKestrelBodySarValue(image, buffer);
  } else if (ntype == kTypeOsprey) {
    const AtSendFun fun = OspreyEntry();
    if (!fun) return 2;
    MaxTxPwrRecord record{};
    if (Exchange("get_BodySarValueV2Ex", fun, kReadCommand, record.data()) != 0) return 3;
    result = RetOspreyBodySarValue(record, buffer);
  } else {
    return 0;
  }
  if (result == 0) Log("[Information] get_BodySarValueV2Ex done.");
  return result;
}

}  // namespace krill

using namespace krill;

extern "C" TXL_EXPORT int set_BodySarValue(char* pBodySarValue) {
  Log("[Information] set_BodySarValue enter.");
  if (!pBodySarValue) return 5;
  if (ntype != kTypeOther && ntype != kTypeKestrel && ntype != kTypeOsprey) return 5;
  // The whole read-modify-write of the record, or the direct write and its work-around, as one.
  const IGlobalTools::ProcessLockScope modem_work;
  const std::string text = pBodySarValue;
  std::string command;
  if (ntype == kTypeOther) {
    command = "AT+BODYSAR = " + text;
  } else if (ntype == kTypeKestrel || ntype == kTypeOsprey) {
    unsigned int bRet = 0;
    const int r = IsMsSarInterface(&bRet);
    if (r != 0) {
      Log("[Information] set_BodySarValue SUCESS !=IsMsSarInterface bRet=%d -nRetV2Ex=%d.", bRet, r);
      return r;
    }
    if (bRet != 0) {
      const int nRetV2Ex = set_BodySarValueV2Ex(pBodySarValue);
      Log("[Information] set_BodySarValue IsMsSarInterface bRet=%d, pCmdValue=%s, nRetV2Ex=%d done.", bRet,
          pBodySarValue, nRetV2Ex);
      return nRetV2Ex;
    }
    command = "AT+BODYSAR = " + text + "\r\n";
  } else {
    return 5;
  }
  // A command that does not fit its buffer is refused whole rather than sent cut.
  if (command.size() >= kCommandBytes) {
    Log("[Information] set_BodySarValue command too long, length=%d.", static_cast<int>(command.size()));
    return 5;
  }
  std::string reply;
  // The modem parses the text itself here, and its reply decides: a refusal fails the set for
  // every module type; only a module of neither family may accept without "OK".
  int result = IGlobalTools::DirectReplyResult(IGlobalTools::SendAtCommand(command, &reply), reply,
                                               ntype != kTypeOther);
  if (result == 0 && ntype == kTypeOsprey) {
    result = ATGTBAND5WAPlanB();
    if (result != 0) Log("[Information] set_BodySarValue-ATGTBAND5WAPlanB fail");
  }
  Log("[Information] set_BodySarValue done. ");
  return result;
}

extern "C" TXL_EXPORT int get_BodySarValue(char* pBodySarValue) {
  Log("[Information] get_BodySarValue enter.");
  if (!pBodySarValue) return 5;
  if (ntype != kTypeOther && ntype != kTypeKestrel && ntype != kTypeOsprey) return 5;
  const IGlobalTools::ProcessLockScope modem_work;
  const char* command = nullptr;
  if (ntype == kTypeOther) {
    command = "AT+BODYSAR?";
  } else if (ntype == kTypeKestrel || ntype == kTypeOsprey) {
    unsigned int bRet = 0;
    const int r = IsMsSarInterface(&bRet);
    if (r != 0) {
      Log("[Information] get_BodySarValue SUCESS !=IsMsSarInterface bRet=%d -nRetV2Ex=%d.", bRet, r);
      return r;
    }
    if (bRet != 0) {
      const int nRetV2Ex = get_BodySarValueV2Ex(pBodySarValue);
      Log("[Information] get_BodySarValue IsMsSarInterface bRet=%d, nRetV2Ex=%d done.", bRet, nRetV2Ex);
      return nRetV2Ex;
    }
    command = kReadCommand;
  } else {
    return 5;
  }
  std::string reply;
  // Every failure leaves the caller's buffer as it was: a refused or unconfirmed reply, one
  // without a value text, and one whose value text would not fit.
  int result = IGlobalTools::DirectReplyResult(IGlobalTools::SendAtCommand(command, &reply), reply, true);
  if (result == 0) {
    const std::size_t plus = reply.find('+');
    if (plus == std::string::npos) {
      Log("[Information] get_BodySarValue no value text in response=%s", reply.c_str());
      result = 4;
    } else if (reply.size() - plus >= kBodySarValueTextBytes) {
      Log("[Information] get_BodySarValue response longer than %d bytes", static_cast<int>(kBodySarValueTextBytes));
      result = 4;
    } else {
      CopyBodySarValueText(std::string_view(reply).substr(plus), pBodySarValue);
    }
  }
  Log("[Information] get_BodySarValue done. ");
  return result;
}
