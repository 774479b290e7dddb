#include "api/switches/switches.h"

#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/result.h"
#include "api/support/global_tools.h"
#include "bridge/messages/records.h"
#include "platform/bytes.h"
#include "platform/process.h"
#include "platform/text.h"

namespace krill {

namespace {

using IGlobalTools::kLevelFailure;
using IGlobalTools::kLevelInformation;

template <class... Args>
void Log(int level, const char* format, Args... args) {
  if (IGlobalTools::ILogEx* log = IGlobalTools::GetApiLog()) log->WriteLog(level, format, args...);
}
template <class... Args>
void Info(const std::string& format, Args... args) {
  Log(kLevelInformation, format.c_str(), args...);
}

// An IMEI and its terminating zero: all that get_ImeiInfo ever writes into its caller's buffer.
constexpr std::size_t kImeiDigits = 15;
constexpr std::size_t kImeiBytes = kImeiDigits + 1;

bool IsImei(const std::string& text) {
  if (text.size() != kImeiDigits) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// ---- Inner bridge operations --------------------------------------------------------------------

// Log tokens of one inner operation, per family: [0] Osprey, [1] Kestrel; null: no token.
struct InnerTexts {
  const char* name;
  const char* bind_token[2];
  const char* call_token[2];
  const char* ok_token[2];  // both null: no success text
  const char* field;
  bool logs_number;        // the success text carries the number read, not the reply
  bool fail_with_reply;    // the call-failure text carries the reply and its length
};

const InnerTexts kSetEnable = {"set_BodySarEnableV2Ex",
                               {"vexelAtSendFun", "GetKestrelVexelAtFun"},
                               {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                               {nullptr, nullptr},
                               "",
                               false,
                               false};
const InnerTexts kGetEnable = {"get_BodySarEnableV2Ex",
                               {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                               {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                               {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                               "WOutIno",
                               true,
                               false};
const InnerTexts kSetOn = {"set_BodySarONV2Ex",
                           {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                           {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                           {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                           "WOutIno",
                           false,
                           false};
const InnerTexts kGetOn = {"get_BodySarONV2Ex",
                           {nullptr, nullptr},
                           {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                           {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                           "WOutIno",
                           false,
                           true};
const InnerTexts kSetMode = {"set_BodySarModeV2Ex",
                             {nullptr, "KestrelVexelAtSendFun"},
                             {"vexelAtSendFun", "vexelAtSendFun"},
                             {"vexelAtSendFun", "KestrelVexelAtSendFun"},
                             "pResponseBuffer",
                             false,
                             false};
// The mode's get logs exactly what its set does, under its own name.
constexpr InnerTexts Renamed(InnerTexts texts, const char* name) {
  texts.name = name;
  return texts;
}
const InnerTexts kGetMode = Renamed(kSetMode, "get_BodySarModeV2Ex");
const InnerTexts kSetProfile = {"set_BodySarProfileV2Ex",
                                {nullptr, nullptr},
                                {"vexelAtSendFun", "vexelAtSendFun"},
                                {"vexelAtSendFun", "vexelAtSendFun"},
                                "pResponseBuffer",
                                false,
                                false};
const InnerTexts kGetProfile = {"get_BodySarProfileV2Ex",
                                {nullptr, "KestrelVexelAtSendFun"},
                                {"vexelAtSendFun", "vexelAtSendFun"},
                                {"vexelAtSendFun", "vexelAtSendFun"},
                                "pResponseBuffer",
                                false,
                                false};

std::string Head(const char* name, const char* token) {
  return std::string("[Information]") + name + (token ? std::string("-") + token : std::string());
}

// Sends one switch command through the bridge. A getter (value non-null) stores the reply read as
// a number; on any failure the value is left alone.
int RunInner(const InnerTexts& t, const std::string& command, int* value) {
  Info(std::string("[Information] ") + t.name + " enter.");
  const int family = ntype == kTypeKestrel ? 1 : 0;
  const AtSendFun fun = FamilyEntryPoint();
  if (!fun) {
    Info(Head(t.name, t.bind_token[family]) + "-fail-ErrorCode=%d.", static_cast<int>(plat::GetLastError()));
    return kNotAvailable;
  }
  const BridgeReply reply = CallBridge(fun, command, nullptr);
  if (reply.result != kSucceeded) {
    const int error = static_cast<int>(plat::GetLastError());
    if (t.fail_with_reply)
      Info(Head(t.name, t.call_token[family]) + "-fail-WOutIno=%s-len=%d-ErrorCode=%d.", reply.text.c_str(),
           reply.length, error);
    else
      Info(Head(t.name, t.call_token[family]) + "-fail-ErrorCode=%d.", error);
    return kCommandFailed;
  }
  const long number = LeadingNumber(reply.text);
  if (value) *value = static_cast<int>(number);
  if (t.ok_token[family]) {
    const std::string head = Head(t.name, t.ok_token[family]) + "-OK-" + t.field;
    if (t.logs_number)
      Info(head + "=%d-len=%d.", static_cast<int>(number), reply.length);
    else
      Info(head + "=%s-len=%d.", reply.text.c_str(), reply.length);
  }
  Info(std::string("[Information] ") + t.name + " done.");
  return kSucceeded;
}

// ---- Exports -------------------------------------------------------------------------------------

struct SetterTexts {
  const char* name;
  const char* type1_text;  // null: not served for a module of neither family
  const char* text;        // the direct text for both families, and the bridge text
  bool kestrel_needs_ok;   // the direct reply must say "OK" for Kestrel too, not only Osprey
  const char* refusal_field;
  const char* done_text;   // bridge branch: bRet, the argument, the inner result
  const InnerTexts* inner;
};

const SetterTexts kSetEnableExport = {
    "set_BodySarEnable", "AT+BODYSAREN = %d", "AT+BODYSAREN = %d\r\n", true, "ulRetValue",
    "[Information] set_BodySarEnable IsMsSarInterface bRet=%d, bEnable=%d ulRetValue =%d, done.", &kSetEnable};
const SetterTexts kSetOnExport = {
    "set_BodySarON", "AT+BODYSARON = %d", "AT+BODYSARON = %d\r\n", true, "nRetV2Ex",
    "[Information] set_BodySarON IsMsSarInterface bRet=%d, dIndex=%d nRetV2Ex=%d done.", &kSetOn};
const SetterTexts kSetModeExport = {
    "set_BodySarMode", nullptr, "AT+BODYSARMODE = %d\r\n", false, "nRetV2Ex",
    "[Information] set_BodySarMode IsMsSarInterface bRet=%d, bMode=%d, nRetV2Ex=%d done.", &kSetMode};
const SetterTexts kSetProfileExport = {
    "set_BodySarProfile", nullptr, "AT+BODYSARPROFILE = %d\r\n", false, "nRetV2Ex",
    "[Information] set_BodySarProfile IsMsSarInterface bRet=%d, dIndex=%d, nRetV2Ex=%d done.", &kSetProfile};

struct GetterTexts {
  const char* name;
  const char* type1_text;
  const char* text;
  const char* done_text;  // bridge branch: bRet, the value, the inner result
  const InnerTexts* inner;
};

const GetterTexts kGetEnableExport = {
    "get_BodySarEnable", "AT+BODYSAREN?", "AT+BODYSAREN?\r\n",
    "[Information] get_BodySarEnable IsMsSarInterface bRet=%d, bEnable=%d nRetV2Ex=%d done.", &kGetEnable};
const GetterTexts kGetOnExport = {
    "get_BodySarON", "AT+BODYSARON?", "AT+BODYSARON?\r\n",
    "[Information] get_BodySarON IsMsSarInterface bRet=%d, dIndex=%d nRetV2Ex=%d done.", &kGetOn};
const GetterTexts kGetModeExport = {
    "get_BodySarMode", nullptr, "AT+BODYSARMODE?\r\n",
    "[Information] get_BodySarMode IsMsSarInterface bRet=%d, bMode=%d, nRetV2Ex=%d done.", &kGetMode};
const GetterTexts kGetProfileExport = {
    "get_BodySarProfile", nullptr, "AT+BODYSARPROFILE?\r\n",
    "[Information] get_BodySarProfile IsMsSarInterface bRet=%d, dIndex=%d, nRetV2Ex=%d done.", &kGetProfile};

// The direct road of a setter: the result of SendAtCommand, or kUnusableReply for a reply that
// holds "ERROR", or that lacks "OK" where the module type asks for one.
int SendDirectSetter(const std::string& command, bool check_ok, std::string* reply) {
  return IGlobalTools::DirectReplyResult(IGlobalTools::SendAtCommand(command, reply), *reply, check_ok);
}

int RunSetter(const SetterTexts& t, int argument) {
  Info(std::string("[Information] ") + t.name + " enter.");
  if (!TypeServed(t.type1_text != nullptr)) return kNotServed;
  const IGlobalTools::ProcessLockScope modem_work;
  int result = kSucceeded;
  const Road road = ChooseRoad(t.name, t.type1_text != nullptr, t.refusal_field, &result);
  if (road == Road::kRefused) return result;
  if (road == Road::kBridge) {
    result = RunInner(*t.inner, plat::Format(t.text, argument), nullptr);
    Info(t.done_text, 1, argument, result);
    return result;
  }
  std::string reply;
  if (road == Road::kDirectType1) {
    // A module of neither family may answer a setting without "OK"; only a refusal counts.
    result = SendDirectSetter(plat::Format(t.type1_text, argument), false, &reply);
  } else {
    const bool check_ok = ntype == kTypeOsprey || (t.kestrel_needs_ok && ntype == kTypeKestrel);
    result = SendDirectSetter(plat::Format(t.text, argument), check_ok, &reply);
  }
  if (&t == &kSetOnExport) {
    Info("[Information] set_BodySarON response.find. nRet = %d, response=%s", result, reply.c_str());
    Info("[Information] set_BodySarON done. nRet = %d", result);
  } else {
    Info(std::string("[Information] ") + t.name + " done. ");
  }
  return result;
}

// A getter's out value is written only when the modem's answer was read: a failure leaves it as
// the caller set it, on both roads, so that a failed read never passes for a read 0.
int RunGetter(const GetterTexts& t, int* value) {
  Info(std::string("[Information] ") + t.name + " enter.");
  if (!TypeServed(t.type1_text != nullptr)) return kNotServed;
  const IGlobalTools::ProcessLockScope modem_work;
  int result = kSucceeded;
  const Road road = ChooseRoad(t.name, t.type1_text != nullptr, "nRetV2Ex", &result);
  if (road == Road::kRefused) return result;
  if (road == Road::kBridge) {
    result = RunInner(*t.inner, t.text, value);
    Info(t.done_text, 1, *value, result);
    return result;
  }
  std::string reply;
  // A value is read from the reply only when the modem said "OK" and did not refuse.
  result = IGlobalTools::DirectReplyResult(
      IGlobalTools::SendAtCommand(road == Road::kDirectType1 ? t.type1_text : t.text, &reply), reply, true);
  if (result == kSucceeded) *value = ParseSwitchReply(reply) == 1 ? 1 : 0;
  Info(std::string("[Information] ") + t.name + " done. ");
  return result;
}

// A getter's out value through a local, so that a caller's null pointer is never written.
template <class T>
int RunGetterInto(const GetterTexts& t, T* out) {
  int value = out ? static_cast<int>(*out) : 0;
  const int result = RunGetter(t, &value);
  if (out) *out = static_cast<T>(value);
  return result;
}

// ---- The clear sequence ---------------------------------------------------------------------------

// One whole override element of a MaxTxPwrRecord, at record offset `at`.
void PutElement(std::span<std::uint8_t> record, std::size_t at, std::uint16_t band, std::uint16_t second,
                std::uint16_t limit) {
  using vexel::TxPowerElement;
  plat::LeWriter(record).U16(at + TxPowerElement::kBand, band).U16(at + TxPowerElement::kCarried, second);
  SetElementPorts(record, at, limit);
}

constexpr std::uint16_t k3gDefault = 376;  // 23.5 dBm
constexpr std::uint16_t k4gDefault = 368;  // 23.0 dBm
constexpr std::uint16_t kBand30Default = 352;  // 22.0 dBm

struct BandWord {
  std::uint16_t band;
  std::uint16_t second;
};
constexpr BandWord kOsprey3gBands[] = {{1, 0}, {2, 0}, {4, 0}, {5, 0}, {8, 0}, {6, 0}};
constexpr BandWord kOsprey4gBands[] = {
    {1, 0},  {2, 0},  {3, 0},  {3, 4},  {4, 0},  {5, 0},  {5, 4},  {7, 0},  {7, 4},  {8, 0},  {12, 0}, {13, 0},
    {14, 0}, {17, 0}, {18, 0}, {19, 0}, {20, 0}, {21, 0}, {25, 0}, {26, 0}, {28, 0}, {28, 1}, {29, 0}, {30, 0},
    {32, 0}, {38, 0}, {38, 4}, {39, 0}, {39, 4}, {40, 0}, {40, 1}, {40, 4}, {40, 5}, {41, 0}, {41, 1}, {41, 4},
    {41, 5}, {41, 32}, {41, 33}, {41, 36}, {41, 37}, {42, 0}, {46, 0}, {66, 0}, {66, 4}};
static_assert(std::size(kOsprey4gBands) == 45);

}  // namespace

int ParseSwitchReply(const std::string& reply) {
  const auto plus = reply.find('+');
  if (plus == std::string::npos) return 0;
  const std::string from_plus = reply.substr(plus);
  const auto colon = from_plus.find(':');
  if (colon == std::string::npos) return 0;
  std::size_t at = colon + 1;
  if (at < from_plus.size() && from_plus[at] == ' ') ++at;
  const char digit = at < from_plus.size() ? from_plus[at] : '\0';
  Info("[Information] %s", from_plus.c_str());
  return digit == '1' ? 1 : 0;
}

std::vector<std::uint8_t> DefaultMaxTxPwrRecord() {
  std::vector<std::uint8_t> record(kMaxTxPwrRecordBytes, 0);
  plat::LeWriter(record)
      .U16(k3gCountAt, static_cast<std::uint16_t>(std::size(kOsprey3gBands)))
      .U16(k4gCountAt, static_cast<std::uint16_t>(std::size(kOsprey4gBands)));
  for (std::size_t i = 0; i < std::size(kOsprey3gBands); ++i)
    PutElement(record, Element3gAt(i), kOsprey3gBands[i].band, kOsprey3gBands[i].second, k3gDefault);
  for (std::size_t i = 0; i < std::size(kOsprey4gBands); ++i)
    PutElement(record, Element4gAt(i), kOsprey4gBands[i].band, kOsprey4gBands[i].second,
               kOsprey4gBands[i].band == 30 ? kBand30Default : k4gDefault);
  return record;
}

void ApplyDefaultProfilePowerImage(std::vector<std::uint8_t>* image) {
  if (image->size() < kProfilePowerImageBytes) image->resize(kProfilePowerImageBytes, 0);
  plat::LeWriter writer(*image);
  for (unsigned t = 0; t < 2; ++t) {
    for (std::size_t b = 0; b < kKestrel3GBands; ++b) writer.U16(Tx3gPowerAt(t, b), k3gDefault);
    for (std::size_t b = 0; b < kKestrel4GBands; ++b) writer.U16(Tx4gPowerAt(t, b), k4gDefault);
  }
}

int set_BodySarClearV2Ex() {
  Info("[Information] set_BodySarClearV2Ex enter.");
  const bool kestrel = ntype == kTypeKestrel;
  const char* token = FamilyEntryPointName();
  const std::string strATBODYSAREN = plat::Format("AT+BODYSAREN = %d\r\n", 1);
  const std::string strATBODYSARMODE = plat::Format("AT+BODYSARMODE = %d\r\n", 0);
  const std::string strATBODYSARPROFILE0 = plat::Format("AT+BODYSARPROFILE = %d\r\n", 0);
  const std::string strATBODYSARPROFILE1 = plat::Format("AT+BODYSARPROFILE = %d\r\n", 1);

  const AtSendFun fun = FamilyEntryPoint();
  if (!fun) {
    Info(kestrel ? "[Information]set_BodySarClearV2Ex-KestrelVexelAtSendFun-fail-ErrorCode=%d."
                 : "[Information]set_BodySarClearV2Ex-fail-ErrorCode=%d.",
         static_cast<int>(plat::GetLastError()));
    return kNotAvailable;
  }

  // The record is read through the entry point before anything is sent. For Kestrel the bridge
  // writes the whole of table 0 and the body of table 2 from the image as well: they get what the
  // modem holds now, so the clear resets only the power entries of tables 0 and 1. For Osprey the
  // default record replaces what was read, but the read proves that the bridge can read the
  // modem's tables, which each table write below needs: a clear that would stop there fails here
  // instead, before the switches and the profile have moved.
  std::vector<std::uint8_t> record(kestrel ? kProfilePowerImageBytes : kMaxTxPwrRecordBytes, 0);
  const BridgeReply read = CallBridge(fun, "AT+BODYSAR?\r\n", record.data());
  if (read.result != kSucceeded) {
    Info(std::string("[Information]set_BodySarClearV2Ex-") + token + "-strATTableRead-fail-ErrorCode=%d.",
         static_cast<int>(plat::GetLastError()));
    return kCommandFailed;
  }
  if (kestrel)
    ApplyDefaultProfilePowerImage(&record);
  else
    record = DefaultMaxTxPwrRecord();

  // The profile selected now, put back should a later step fail: the profile steps come first and
  // only touch the registry, so a clear that fails leaves it as it found it.
  const BridgeReply selected = CallBridge(fun, "AT+BODYSARPROFILE?\r\n", nullptr);
  if (selected.result != kSucceeded) {
    Info(std::string("[Information]set_BodySarClearV2Ex-") + token + "-strATProfileRead-fail-ErrorCode=%d.",
         static_cast<int>(plat::GetLastError()));
    return kCommandFailed;
  }
  const std::string strATBODYSARPROFILEBack =
      plat::Format("AT+BODYSARPROFILE = %d\r\n", static_cast<int>(LeadingNumber(selected.text)));

  struct Step {
    const std::string& command;
    void* table;
    const char* name;
  };
  const std::string table_command = "at+bodysar=\r\n";
  // Both profiles are selected once before the switches move: they only touch the registry, and
  // of two different values at least one is a real change, so a registry that cannot be written
  // stops the clear before the modem has moved. Selecting profile 0 ahead of the switches changes
  // nothing else: the table write that needs it follows them.
  const Step steps[] = {{strATBODYSARPROFILE1, nullptr, "strATBODYSARPROFILE1Check"},
                        {strATBODYSARPROFILE0, nullptr, "strATBODYSARPROFILE0"},
                        {strATBODYSAREN, nullptr, "strATBODYSAREN"},
                        {strATBODYSARMODE, nullptr, "strATBODYSARMODE"},
                        {table_command, record.data(), "strATTable0Value"},
                        {strATBODYSARPROFILE1, nullptr, "strATBODYSARPROFILE1"},
                        {table_command, record.data(), "strATTable1Value"}};
  for (const Step& step : steps) {
    const BridgeReply reply = CallBridge(fun, step.command, step.table);
    if (reply.result != kSucceeded) {
      const int error = static_cast<int>(plat::GetLastError());
      const bool odd_token = kestrel && &step == &steps[1];
      Info(std::string("[Information]set_BodySarClearV2Ex-") + (odd_token ? "vexelAtSendFun" : token) + "-" +
               step.name + "-fail-ErrorCode=%d.",
           error);
      if (&step != &steps[0]) {
        const BridgeReply back = CallBridge(fun, strATBODYSARPROFILEBack, nullptr);
        Info(std::string("[Information]set_BodySarClearV2Ex-") + token + "-strATBODYSARPROFILEBack-" +
                 (back.result == kSucceeded ? "OK" : "fail") + "-pResponseBuffer=%s-len=%d.",
             back.text.c_str(), back.length);
      }
      return kCommandFailed;
    }
    Info(std::string("[Information]set_BodySarClearV2Ex-") + token + "-" + step.name + "-OK-pResponseBuffer=%s-len=%d.",
         reply.text.c_str(), reply.length);
  }
  Info("[Information] set_BodySarClearV2Ex done.");
  return kSucceeded;
}

}  // namespace krill

using namespace krill;

extern "C" {

int set_BodySarEnable(int bEnable) { return RunSetter(kSetEnableExport, bEnable); }
int get_BodySarEnable(int* bEnable) { return RunGetterInto(kGetEnableExport, bEnable); }
int set_BodySarON(int dIndex) { return RunSetter(kSetOnExport, dIndex); }
int get_BodySarON(int* dIndex) { return RunGetterInto(kGetOnExport, dIndex); }
int set_BodySarMode(int bMode) { return RunSetter(kSetModeExport, bMode); }
int get_BodySarMode(int* bMode) { return RunGetterInto(kGetModeExport, bMode); }
int set_BodySarProfile(int dIndex) { return RunSetter(kSetProfileExport, dIndex); }
int get_BodySarProfile(unsigned int* dIndex) { return RunGetterInto(kGetProfileExport, dIndex); }

int set_BodySarClear() {
  Info("[Information] set_BodySarClear enter.");
  if (!TypeServed(true)) return kNotServed;
  const IGlobalTools::ProcessLockScope modem_work;
  int result = kSucceeded;
  const Road road = ChooseRoad("set_BodySarClear", true, "nRetV2Ex", &result);
  if (road == Road::kRefused) return result;
  if (road == Road::kBridge) {
    result = set_BodySarClearV2Ex();
    Info("[Information] set_BodySarClear IsMsSarInterface bRet=%d, nRetV2Ex=%d done.", 1, result);
    return result;
  }
  std::string reply;
  if (road == Road::kDirectType1)
    result = SendDirectSetter("AT+BODYSARCLEAR", false, &reply);
  else
    result = SendDirectSetter("AT+BODYSARCLEAR\r\n", true, &reply);
  Info("[Information] set_BodySarClear done. ");
  return result;
}

int get_ImeiInfo(char* pResponseBuffer) {
  Info("[Information] get_GetImeiInfo enter.");
  const IGlobalTools::ProcessLockScope modem_work;
  Info("[Information] get_ImeiInfoV2Ex enter.");
  const std::string& known = g_MoblieBandInfo.strImeiInfo;
  int answer = kNotAvailable;
  if (known.empty()) {
    Info("[Information] get_ImeiInfoV2Ex strImeiInfo=%s.", known.c_str());
  } else if (!IsImei(known)) {
    // The platform's device id is no IMEI (and may be far longer than the caller's buffer): the
    // modem is asked instead, as for an empty one.
    Info("[Information] get_ImeiInfoV2Ex strImeiInfo is no 15-digit IMEI, strImeiInfo.length=%d.",
         static_cast<int>(known.size()));
    answer = kNotServed;
  } else {
    std::memcpy(pResponseBuffer, known.c_str(), kImeiBytes);
    Info("[Information] get_ImeiInfoV2Ex strImeiInfo.length=%d strImeiInfo=%s.", static_cast<int>(known.size()),
         known.c_str());
    answer = kSucceeded;
  }
  // The caller's buffer is only known to hold text once this library wrote it.
  Info("[Information] get_ImeiInfo IsMsSarInterface bRet=%d, pResponseBuffer=%s, nRetV2Ex=%d done.", 0,
       answer == kSucceeded ? pResponseBuffer : "", answer);
  if (answer == kSucceeded) return kSucceeded;

  std::string reply;
  int result = IGlobalTools::SendAtCommand("AT+CGSN\r\n", &reply);
  if (result == kSucceeded) {
    for (char& c : reply) c = static_cast<char>(plat::AsciiUpper(static_cast<unsigned char>(c)));
    Info("[Info][get_ImeiInfo] ExecuteCmd Success,Response Data %s", reply.c_str());
    if (IGlobalTools::DirectReplyResult(result, reply, true) != kSucceeded) {
      Log(kLevelFailure, "[Error]get_GetImeiInfo] Execute AT+CGSN? Error.");
      result = kUnusableReply;
    } else {
      const auto start = reply.find("\r\n");
      const auto end = reply.rfind("\r\n\r\nOK\r\n");
      std::string candidate;
      if (start != std::string::npos && end != std::string::npos && end >= start + 2)
        candidate = reply.substr(start + 2, end - start - 2);
      if (IsImei(candidate)) {
        std::memcpy(pResponseBuffer, candidate.c_str(), kImeiBytes);
        Info("[Info][get_GetImeiInfo] get dynamic IMEI code = [%s]", candidate.c_str());
      } else {
        Info("[Info][get_GetImeiInfo] parse return value fail");
        result = kNotServed;
      }
    }
  }
  Info("[Information] get_GetImeiInfo done. ");
  return result;
}

}  // extern "C"
