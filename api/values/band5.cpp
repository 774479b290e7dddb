#include "api/values/band5.h"

#include <cstddef>
#include <cstdint>

#include "api/result.h"
#include "api/support/global_tools.h"
#include "api/values/value_text.h"
#include "platform/text.h"

namespace krill {

bool g_bBand5OneTime = true;

namespace {

constexpr int kAttempts = 3;
// Every command of the sequence is formed in this many bytes.
constexpr std::size_t kCommandBytes = 255;

// The modem's NVM access code, sent with the security command that unlocks its calibration item.
constexpr std::uint8_t kNvmAccessCode[8] = {0x37, 0x32, 0x35, 0x31, 0x38, 0x34, 0x36, 0x39};

std::string SecurityCommand() {
  std::string codes;
  for (std::uint8_t b : kNvmAccessCode) codes += (codes.empty() ? "" : ",") + plat::Format("0x%02x", b);
  return "at@sec:code_verify(3,{" + codes + "})\r\n";
}

// The sixth 3G element of both profile tables carries band 6 with fixed port limits (23.5, 20,
// 23 and 20 dBm).
const char* const kOneTimeElementCommands[] = {
    "at@nvm:cal_mtpm.mtpm_tx_power_table[0].max_tx_pwr_3g.numOverrideElts = 6\r\n",
    "at@nvm:cal_mtpm.mtpm_tx_power_table[0].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320}\r\n",
    "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.numOverrideElts = 6\r\n",
    "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320}\r\n",
};

IGlobalTools::ILogEx* Log() { return IGlobalTools::GetApiLog(); }

// Position of the n-th comma (1-based), npos when the text has fewer.
std::size_t NthComma(const std::string& text, int n) {
  std::size_t at = std::string::npos;
  for (int i = 0; i < n; ++i) {
    at = text.find(',', at == std::string::npos ? 0 : at + 1);
    if (at == std::string::npos) return at;
  }
  return at;
}

// A command as its 255-byte buffer holds it.
std::string Bounded(std::string command) {
  if (command.size() > kCommandBytes - 1) command.resize(kCommandBytes - 1);
  return command;
}

int LogIndex(std::size_t at) { return at == std::string::npos ? -1 : static_cast<int>(at); }

// The band-5 value of a 3G read-back that lists bands 1, 2, 4 and 5 in this order sits between the
// 7th and the 8th comma.
bool Band5Value(const std::string& reply, int* nvm) {
  const std::size_t c7 = NthComma(reply, 7);
  const std::size_t c8 = NthComma(reply, 8);
  if (c7 == std::string::npos || c8 == std::string::npos || c7 >= c8) {
    Log()->WriteLog(IGlobalTools::kLevelInformation,
                    "[Information] responseBand5 error, response=%s, nStrIndex7=%d, nStrIndex8=%d", reply.c_str(),
                    LogIndex(c7), LogIndex(c8));
    return false;
  }
  const std::string value = reply.substr(c7 + 1, c8 - c7 - 1);
  // Only a plain decimal 3G value is copied: anything else (a sign, a blank, a cut or shifted line)
  // is not the band-5 value the modem was given.
  const unsigned long tenths = ValueForLimit(value);
  if (tenths > kLimit3G) {
    Log()->WriteLog(IGlobalTools::kLevelInformation,
                    "[Information] responseBand5 error, response=%s, nStrIndex7=%d, nStrIndex8=%d", reply.c_str(),
                    LogIndex(c7), LogIndex(c8));
    return false;
  }
  Log()->WriteLog(IGlobalTools::kLevelInformation,
                  "[Information] responseBand5 Sucess, response=%s, nStrIndex7=%d, nStrIndex8=%d, SubresponseBand5=%s",
                  reply.c_str(), LogIndex(c7), LogIndex(c8), value.c_str());
  *nvm = TenthsToNvm(static_cast<int>(tenths));
  return true;
}

int StepFailed(const std::string& command, int result) {
  Log()->WriteLog(IGlobalTools::kLevelInformation, "[Information] SendCommand error, strATCommandInfo=%s, return=%d",
                  command.c_str(), result);
  return result;
}

}  // namespace

int SendPlanBCommand(const std::string& command, int attempts) {
  int result = kSucceeded;
  for (int i = 0; i < attempts; ++i) {
    std::string reply;
    const int sent = IGlobalTools::SendAtCommand(command, &reply);
    if (sent != kSucceeded) {
      result = sent;
      Log()->WriteLog(IGlobalTools::kLevelInformation,
                      "[Information]ATGTBAND5WAPlanB-CMD_SET_GTBAND5WA fail, CMD=%s, response=%s, return=%d",
                      command.c_str(), reply.c_str(), result);
      continue;
    }
    result = IGlobalTools::DirectReplyResult(sent, reply, true);
    if (result == kSucceeded) break;
    Log()->WriteLog(IGlobalTools::kLevelInformation,
                    "[Information]ATGTBAND5WAPlanB-SUCESS-CMD_SET_GTBAND5WA-return value fail, CMD=%s, response=%s, "
                    "return=%d",
                    command.c_str(), reply.c_str(), sent);
  }
  return result;
}

int ATGTBAND5WAPlanB() {
  const std::string workaround = "at+GTBAND5WA\r\n";
  if (const int r = SendPlanBCommand(workaround, kAttempts)) return StepFailed(workaround, r);

  if (g_bBand5OneTime) {
    const std::string security = SecurityCommand();
    if (const int r = SendPlanBCommand(security, kAttempts)) return StepFailed(security, r);
    for (const char* command : kOneTimeElementCommands) {
      if (const int r = SendPlanBCommand(command, kAttempts)) return StepFailed(command, r);
    }
    g_bBand5OneTime = false;
  }

  const std::string query = "AT+BODYSAR?\r\n";
  std::string reply;
  const int r = IGlobalTools::SendAtCommand(query, &reply);
  if (IGlobalTools::DirectReplyResult(r, reply, true) != kSucceeded) {
    StepFailed(query, r);
    return kNotServed;
  }
  int nvm = 0;
  if (!Band5Value(reply, &nvm)) return kNotServed;

  const std::string port_a = Bounded(plat::Format(
      "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[5].override_portA=%d\r\n", nvm));
  if (const int r5 = SendPlanBCommand(port_a, kAttempts)) {
    Log()->WriteLog(IGlobalTools::kLevelInformation, "[Information] SendCommand error, strCommand13=%s, return=%d",
                    port_a.c_str(), r5);
    return r5;
  }
  const std::string store = "at@nvm:store_nvm_sync(cal_mtpm)\r\n";
  if (const int r6 = SendPlanBCommand(store, kAttempts)) {
    Log()->WriteLog(IGlobalTools::kLevelInformation, "[Information] SendCommand error, strCommand14=%s, return=%d",
                    store.c_str(), r6);
    return r6;
  }
  return kSucceeded;
}

}  // namespace krill
