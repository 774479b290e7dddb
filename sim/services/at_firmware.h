// The modem's AT command interpreter, working on the modem's own state (its configuration and
// NVM), for every service that carries AT text to the modem.
//
// A command is "AT" followed by a name and its arguments (AT+CGSN, AT+CGSN=?); letter case does
// not matter, and the final CR LF (and blanks before it) may be present or not. The reply is
// CR LF "OK" CR LF; with answer lines, CR LF, each line followed by CR LF, then CR LF "OK" CR LF;
// or CR LF "ERROR" CR LF for anything the modem does not take.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "sim/modem_config.h"
#include "sim/nvm_store.h"

namespace sim::services {

// What a command handler sees of the modem.
struct AtModem {
  const ModemConfig& config;
  NvmStore& nvm;
};

// A handler's outcome: the answer lines, or an error.
struct AtResult {
  bool ok = true;
  std::vector<std::string> lines;
};

// One command of the firmware. `args` is the text after the name, as sent ("", "?", "=?", "=1").
struct AtCommand {
  std::string_view name;  // upper case, with its prefix: "", "+CGSN"
  AtResult (*handler)(AtModem& modem, std::string_view args);
};

class AtFirmware {
 public:
  AtFirmware(const std::filesystem::path& machine_dir, ModemConfig config);

  // The modem's reply to one command line.
  std::string Execute(std::string_view command);

 private:
  ModemConfig config_;
  NvmStore nvm_;
};

}  // namespace sim::services
