// The modem's AT command interpreter, working on the modem's own state (its configuration, its
// NVM and the settings the firmware keeps), for every service that carries AT text to the modem.
// It keeps nothing in memory: two firmware objects over one notebook are one modem.
//
// A command is "AT" followed by a name and its arguments (AT+CGSN, AT+CGSN=?, AT+BODYSAREN = 1);
// letter case does not matter, blanks may stand around "=", and the final CR LF (and blanks
// before it) may be present or not. The reply is CR LF "OK" CR LF; with answer lines, CR LF, each
// line followed by CR LF, then CR LF "OK" CR LF; or CR LF "ERROR" CR LF for anything the modem
// does not take. A command that starts with a prefix of modem.ini's [at_replies] gets that reply
// instead, whatever it is.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "sim/modem_config.h"
#include "sim/nvm_store.h"
#include "sim/services/body_sar_settings.h"

namespace sim::services {

// What a command handler sees of the modem.
struct AtModem {
  const ModemConfig& config;
  NvmStore& nvm;
  BodySarSettings& settings;
};

// A handler's outcome: the answer lines, or an error.
struct AtResult {
  bool ok = true;
  std::vector<std::string> lines;
};

inline AtResult AtOk(std::vector<std::string> lines = {}) { return AtResult{true, std::move(lines)}; }
inline AtResult AtError() { return AtResult{false, {}}; }

// One command of the firmware. For a named command, `args` is what follows the name with the
// blanks around "=" gone: "" (action), "?" (read), "=?" (test) or "=VALUE". For a command known
// by its prefix (the at@ family), `args` is the rest of the text as sent.
struct AtCommand {
  std::string_view name;  // upper case, with its prefix: "", "+CGSN", "@NVM:"
  AtResult (*handler)(AtModem& modem, std::string_view args);
};

// An action command that takes no arguments: run, or asked whether it exists ("=?").
template <class F>
AtResult AtAction(std::string_view args, F answer) {
  if (args.empty()) return answer();
  if (args == "=?") return AtOk();
  return AtError();
}

class AtFirmware {
 public:
  AtFirmware(const std::filesystem::path& machine_dir, ModemConfig config);

  // The modem's reply to one command line.
  std::string Execute(std::string_view command);

 private:
  ModemConfig config_;
  NvmStore nvm_;
  BodySarSettings settings_;
};

}  // namespace sim::services
