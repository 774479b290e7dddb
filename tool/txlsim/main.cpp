// txlsim: the command line. Each subcommand has a file of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "tool/txlsim/txlsim.h"

namespace {

const char kHelp[] =
    "usage: txlsim COMMAND\n"
    "\n"
    "Inspects and configures the simulated notebook in $TXL_MACHINE_DIR.\n"
    "\n"
    "  show                     machine folder, module, services, faults, NVM flags, the power\n"
    "                           tables of every profile in dBm, the firmware's switches, the stored\n"
    "                           MS SAR state and the suite's registry values\n"
    "  reset                    back to factory state: removes modem/nvm/*.bin and the modem's\n"
    "                           state files; modem.ini, the trace and the registry are kept\n"
    "  set SECTION.KEY=VALUE    edits modem/modem.ini (created when absent), keeping everything else\n"
    "  trace                    modem/trace.jsonl decoded, one line per request\n"
    "  mbim [--link PATH]       serves the modem as an MBIM device on a pseudo-terminal (Linux):\n"
    "                           prints the device path first, also links PATH to it, and serves\n"
    "                           one host after another until SIGTERM or the end of standard input\n"
    "  --help                   this text\n"
    "\n"
    "Exit codes: 0 done, 1 failed, 2 command line refused.\n";

}  // namespace

int main(int argc, char** argv) {
  // The notebook this tool inspects is the one its platform reaches.
  sim::RegisterWithPlatform();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::FILE* out = args.empty() ? stderr : stdout;
    std::fputs(kHelp, out);
    std::fputs("\nThe notebook's service control manager (install with TXLGuard -install):\n", out);
    std::fputs(txlsim::kServiceHelp, out);
    return args.empty() ? txlsim::kUsageExit : 0;
  }
  const std::string& cmd = args[0];
  if (cmd == "set" && args.size() == 2) return txlsim::Set(args[1]);
  if (cmd == "mbim") return txlsim::Mbim(std::vector<std::string>(args.begin() + 1, args.end()));
  if (cmd == "service") return txlsim::ServiceCommand(std::vector<std::string>(args.begin() + 1, args.end()));
  if (cmd == "set") {
    std::fprintf(stderr, "txlsim: set takes one SECTION.KEY=VALUE (txlsim --help)\n");
    return txlsim::kUsageExit;
  }
  if (args.size() == 1) {
    if (cmd == "show") return txlsim::Show();
    if (cmd == "reset") return txlsim::Reset();
    if (cmd == "trace") return txlsim::Trace();
  }
  std::fprintf(stderr, "txlsim: unknown command line '%s' (txlsim --help)\n", cmd.c_str());
  return txlsim::kUsageExit;
}
