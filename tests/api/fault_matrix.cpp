// The fault matrix: every export of the control library (on the Osprey bridge road, the Kestrel
// bridge road and the library's own channel) and every command word of both bridge entry points,
// against every fault the simulated notebook injects and the faults of the host around it.
//
// Each cell is a client process of its own (krill_client or bridge_walk, beside the built
// libraries) on a notebook of its own, so that no completion, session or bound library of one cell
// reaches the next. Every cell asserts its result, that it ended within a generous bound of its
// scaled waits (a hang or crash fails it), that a failed set or clear left the modem's NVM and the
// registry byte for byte as they were, that a read never changed them, that a failed read left the
// caller's value alone, and that the bridge's reply says "ERROR" exactly when its result is not 0.
//
// One ctest entry per row, run alone on the machine; within a row a few cells run at once.
// TXL_MATRIX_SHOW=1 prints each row's observed results in the table's own form.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/sync.h"
#include "platform/text.h"
#include "sim/modem_config.h"
#include "sim/nvm_store.h"
#include "tests/bridge/test_support.h"

extern char** environ;

namespace {

using namespace txltest;

// ---- Outcomes ------------------------------------------------------------------------------------

// Control library (api/result.h).
constexpr int OK = 0, NA = 2, CF = 3, UR = 4, NS = 5;
// The bridge.
constexpr int UNSUP = 50;                                          // ERROR_NOT_SUPPORTED
constexpr int EFAIL = static_cast<int>(0x80004005u);               // no interface, empty tunnel reply
constexpr int TIMEOUT = static_cast<int>(0x80070102u);             // no completion within the wait
constexpr int NOTREADY = static_cast<int>(0x80070015u);            // the status the failing modem gives
constexpr int WRITEFAULT = static_cast<int>(0x8007001Du);          // the modem cannot store its state
constexpr int READFAULT = static_cast<int>(0x8007001Eu);           // the modem cannot read its state
// The bridge cannot be loaded beside the client at all.
constexpr int NOLIB = INT_MIN;
// Observed only: the client was killed at the bound, or died of a signal.
constexpr int HANG = INT_MIN + 1;
constexpr int CRASH = INT_MIN + 2;

std::string Name(int v) {
  switch (v) {
    case NOLIB: return "NOLIB";
    case HANG: return "HANG";
    case CRASH: return "CRASH";
    case UNSUP: return "UNSUP";
    case EFAIL: return "EFAIL";
    case TIMEOUT: return "TIMEOUT";
    case NOTREADY: return "NOTREADY";
    case WRITEFAULT: return "WRITEFAULT";
    case READFAULT: return "READFAULT";
    default: break;
  }
  if (v < 0) return plat::Format("0x%08X", static_cast<unsigned>(v));
  return std::to_string(v);
}

// ---- Columns -------------------------------------------------------------------------------------

enum class Tool { kClient, kAt, kAtSta };

struct Column {
  const char* call;   // krill_client call, or the command text with \r\n escaped
  bool changes;       // a set or clear: on failure nothing may have changed
  int budget_ms;      // the unscaled waits the call may take at worst, identification included
};

// The thirteen exports, in the order of the table's export columns. get_IsMBIMReady always
// returns 0: its cell holds the answer at bValue (7: left as the client set it). Every other export
// runs after get_IsMBIMReady in the same process, as a client calls them; its budget covers both.
constexpr int kReadyBudget = 10000 + 60000 + 16000;  // fallback pause, probe, own-channel "AT"
constexpr int kExportBudget = kReadyBudget + 60000 + 60000;
const std::array<Column, 13> kExports = {{
    {"ready", false, kReadyBudget},
    {"set-enable=1", true, kExportBudget},
    {"get-enable", false, kExportBudget},
    {"set-on=1", true, kExportBudget},
    {"get-on", false, kExportBudget},
    {"set-mode=0", true, kExportBudget},
    {"get-mode", false, kExportBudget},
    {"set-profile=1", true, kExportBudget},
    {"get-profile", false, kExportBudget},
    {"clear", true, kExportBudget + 6 * 60000},
    {"imei", false, kExportBudget},
    // The own channel's band-5 work-around: up to ten commands of three attempts each.
    {"set-value=1,200,\"0x1\"", true, kExportBudget + 30 * 16000},
    {"get-value", false, kExportBudget + 60000},
}};

// The command words of the bridge's entry points: the readiness probe, each switch set and query,
// the table query and set (bridge_walk passes a zeroed record), and a tunnelled command.
constexpr int kBridgeBudget = 60000;
const std::array<Column, 12> kCommands = {{
    {"AT\\r\\n", false, kBridgeBudget},
    {"AT+BODYSAREN = 1\\r\\n", true, kBridgeBudget},
    {"AT+BODYSAREN?\\r\\n", false, kBridgeBudget},
    {"AT+BODYSARMODE = 0\\r\\n", true, kBridgeBudget},
    {"AT+BODYSARMODE?\\r\\n", false, kBridgeBudget},
    {"AT+BODYSARON = 1\\r\\n", true, kBridgeBudget},
    {"AT+BODYSARON?\\r\\n", false, kBridgeBudget},
    {"AT+BODYSARPROFILE = 1\\r\\n", true, kBridgeBudget},
    {"AT+BODYSARPROFILE?\\r\\n", false, kBridgeBudget},
    {"AT+BODYSAR?\\r\\n", false, kBridgeBudget},
    {"at+bodysar=\\r\\n", true, kBridgeBudget},
    {"AT+CGSN\\r\\n", false, kBridgeBudget},
}};

// The modems a column group runs on.
enum class Modem { kOsprey, kKestrel, kOspreyDirect };

std::string ModemModule(Modem m) {
  switch (m) {
    case Modem::kOsprey: return "family=osprey\n";
    case Modem::kKestrel: return "family=kestrel\n";
    case Modem::kOspreyDirect: return "family=osprey\nfirmware=41400.1000.00.04.01.12\n";  // gate closed
  }
  return "";
}
sim::ModemFamily Family(Modem m) {
  return m == Modem::kKestrel ? sim::ModemFamily::kKestrel : sim::ModemFamily::kOsprey;
}

// ---- Rows ----------------------------------------------------------------------------------------

// What surrounds the modem.
enum class Host {
  kNormal,
  kNoBridge,         // VexelSarDll is not beside the client
  kLogsUnwritable,   // logging on, and every log folder or file blocked
  kMachineReadOnly,  // the notebook folder cannot be written (nor by root: the client runs
                     // without the capability to override file permissions)
};
enum class Registry { kNormal, kUnwritable, kMalformed };

using Exports = std::array<int, 13>;
using Commands = std::array<int, 12>;

struct Row {
  const char* name;
  const char* module;    // [module] lines
  const char* services;  // [services] lines
  const char* faults;    // [faults] lines
  Host host;
  Registry registry;
  // ready set-en get-en set-on get-on set-mode get-mode set-prof get-prof clear imei set-val get-val
  Exports osprey;  // Osprey, firmware opens the bridge road
  Exports kestrel;  // Kestrel, bridge road
  Exports direct;  // Osprey, firmware keeps the bridge road closed: the library's own channel
  // AT EN=1 EN? MODE=0 MODE? ON=1 ON? PROF=1 PROF? BODYSAR? bodysar= CGSN
  Commands at;   // AtSendInterface on the Osprey modem
  Commands sta;  // AtSendInterfaceSTA on the Kestrel modem
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

// Faults on the request completions of every service: the sessions open, the commands do not go
// through (only the commands: a fault on the session requests stops the readiness probe first).
#define ALL_COMMANDS \
  "ms_sar:query,ms_sar:set,nvm:query,nvm:set,at_tunnel:query,at_tunnel:set,at_command:query,at_command:set"
#define ALL_OPENS "ms_sar:open,nvm:open,at_tunnel:open,at_command:open"
#define ALL_SERVICES "ms_sar,nvm,at_tunnel,at_command"
// A status of the stack's own that the bridge never makes up: it is passed up, or it is not.
#define ALL_COMMANDS_FAILING \
  "ms_sar:query=0x80070015,ms_sar:set=0x80070015,nvm:query=0x80070015,nvm:set=0x80070015," \
  "at_tunnel:query=0x80070015,at_tunnel:set=0x80070015,at_command:query=0x80070015,at_command:set=0x80070015"
#define ALL_OPENS_FAILING \
  "ms_sar:open=0x80070015,nvm:open=0x80070015,at_tunnel:open=0x80070015,at_command:open=0x80070015"
// Far longer than an IMEI, and than the text buffers of the control library's callers.
#define LONG_DEVICE_ID                                                                                        \
  "3569380356438093569380356438093569380356438093569380356438093569380356438093569380356438093569380356438" \
  "3569380356438093569380356438093569380356438093569380356438093569380356438093569380356438093569380356438" \
  "3569380356438093569380356438093569380356438093569380356438093569380356438093569380356438093569380356438"

const Row kRows[] = {
    // clang-format off
    {"healthy", "", "", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK}},
    {"completion_dropped", "", "", "drop=" ALL_COMMANDS "\n", Host::kNormal, Registry::kNormal,
     {1, CF, CF, CF, OK, CF, CF, OK, OK, CF, OK, NS, CF},
     {1, CF, CF, CF, OK, CF, CF, OK, OK, CF, OK, NS, CF},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {OK, TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT, OK, OK, OK, TIMEOUT, TIMEOUT, TIMEOUT},
     {OK, TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT, TIMEOUT, OK, OK, OK, TIMEOUT, TIMEOUT, TIMEOUT}},
    {"open_completion_dropped", "", "", "drop=" ALL_OPENS "\n", Host::kNormal, Registry::kNormal,
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP}},
    {"failure_status", "", "", "fail=" ALL_COMMANDS_FAILING "\n", Host::kNormal, Registry::kNormal,
     {1, CF, CF, CF, OK, CF, CF, OK, OK, CF, OK, NS, CF},
     {1, CF, CF, CF, OK, CF, CF, OK, OK, CF, OK, NS, CF},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {OK, NOTREADY, NOTREADY, NOTREADY, NOTREADY, NOTREADY, OK, OK, OK, NOTREADY, NOTREADY, NOTREADY},
     {OK, NOTREADY, NOTREADY, NOTREADY, NOTREADY, NOTREADY, OK, OK, OK, NOTREADY, NOTREADY, NOTREADY}},
    {"open_failure_status", "", "", "fail=" ALL_OPENS_FAILING "\n", Host::kNormal, Registry::kNormal,
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP}},
    {"nvm_writes_fail", "", "", "fail=nvm:set=0x80070015\n", Host::kNormal, Registry::kNormal,
     {1, CF, OK, OK, OK, CF, OK, OK, OK, CF, OK, CF, OK},
     {1, CF, OK, OK, OK, CF, OK, OK, OK, CF, OK, CF, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, NOTREADY, OK, NOTREADY, OK, OK, OK, OK, OK, OK, NOTREADY, OK},
     {OK, NOTREADY, OK, NOTREADY, OK, OK, OK, OK, OK, OK, NOTREADY, OK}},
    {"ms_sar_sets_fail", "", "", "fail=ms_sar:set=0x80070015\n", Host::kNormal, Registry::kNormal,
     {1, CF, OK, CF, OK, OK, OK, OK, OK, CF, OK, OK, OK},
     {1, CF, OK, CF, OK, OK, OK, OK, OK, CF, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, NOTREADY, OK, OK, OK, NOTREADY, OK, OK, OK, OK, OK, OK},
     {OK, NOTREADY, OK, OK, OK, NOTREADY, OK, OK, OK, OK, OK, OK}},
    {"empty_payload", "", "", "empty=" ALL_COMMANDS "\n", Host::kNormal, Registry::kNormal,
     {1, OK, CF, OK, OK, OK, CF, OK, OK, CF, OK, NS, CF},
     {1, OK, CF, OK, OK, OK, CF, OK, OK, CF, OK, NS, CF},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {OK, OK, EFAIL, OK, EFAIL, OK, OK, OK, OK, EFAIL, EFAIL, EFAIL},
     {OK, OK, EFAIL, OK, EFAIL, OK, OK, OK, OK, EFAIL, EFAIL, EFAIL}},
    {"session_already_open", "", "", "session_open=" ALL_SERVICES "\n", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK}},
    {"request_id_mismatch", "", "", "request_id_mismatch=" ALL_SERVICES "\n", Host::kNormal, Registry::kNormal,
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP}},
    {"latency_past_the_wait", "", "", "latency_ms=600000\n", Host::kNormal, Registry::kNormal,
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, UNSUP, UNSUP, UNSUP}},
    {"no_interface", "interfaces=0\n", "", "", Host::kNormal, Registry::kNormal,
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, CF, NS, NS},
     {0, CF, CF, CF, CF, CF, CF, CF, CF, CF, CF, CF, CF},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, CF, NS, NS},
     {EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, OK, OK, OK, EFAIL, EFAIL, EFAIL},
     {EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, OK, OK, OK, EFAIL, EFAIL, EFAIL}},
    {"interfaces_33", "interfaces=33\n", "", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK}},
    {"ms_sar_absent", "", "ms_sar=0\n", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {UNSUP, UNSUP, OK, OK, OK, UNSUP, OK, OK, OK, OK, OK, OK},
     {UNSUP, UNSUP, OK, OK, OK, UNSUP, OK, OK, OK, OK, OK, OK}},
    {"nvm_absent", "", "nvm=0\n", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, OK, UNSUP, UNSUP, OK},
     {UNSUP, UNSUP, UNSUP, UNSUP, UNSUP, OK, OK, OK, OK, UNSUP, UNSUP, OK}},
    {"at_tunnel_absent", "", "at_tunnel=0\n", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, UNSUP},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, UNSUP}},
    {"at_command_absent", "", "at_command=0\n", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, OK, NS, NS},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK}},
    {"get_interfaces_fails", "", "", "get_interfaces=0x80004005\n", Host::kNormal, Registry::kNormal,
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, CF, NS, NS},
     {0, CF, CF, CF, CF, CF, CF, CF, CF, CF, CF, CF, CF},
     {0, NS, NS, NS, NS, NS, NS, NS, NS, NS, CF, NS, NS},
     {EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, OK, OK, OK, EFAIL, EFAIL, EFAIL},
     {EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, EFAIL, OK, OK, OK, EFAIL, EFAIL, EFAIL}},
    {"device_id_overlong", "imei=" LONG_DEVICE_ID "\n", "", "", Host::kNormal, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, NS, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, NS, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, NS, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK}},
    {"bridge_missing", "", "", "", Host::kNoBridge, Registry::kNormal,
     {0, NA, NA, NA, NA, NA, NA, NA, NA, NA, OK, NA, NA},
     {0, NA, NA, NA, NA, NA, NA, NA, NA, NA, OK, NA, NA},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB},
     {NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB, NOLIB}},
    {"registry_unwritable", "", "", "", Host::kNormal, Registry::kUnwritable,
     {1, OK, OK, CF, OK, OK, OK, CF, OK, CF, OK, OK, OK},
     {1, OK, OK, CF, OK, OK, OK, CF, OK, CF, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, EFAIL, OK, EFAIL, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, EFAIL, OK, EFAIL, OK, OK, OK, OK}},
    {"registry_malformed", "", "", "", Host::kNormal, Registry::kMalformed,
     {1, OK, OK, CF, OK, OK, OK, CF, OK, CF, OK, OK, OK},
     {1, OK, OK, CF, OK, OK, OK, CF, OK, CF, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, EFAIL, OK, EFAIL, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, EFAIL, OK, EFAIL, OK, OK, OK, OK}},
    {"log_folders_unwritable", "", "", "", Host::kLogsUnwritable, Registry::kNormal,
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {1, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK},
     {OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK, OK}},
    {"machine_read_only", "", "", "", Host::kMachineReadOnly, Registry::kNormal,
     {1, CF, CF, CF, OK, CF, CF, CF, OK, CF, OK, NS, CF},
     {1, CF, CF, CF, OK, CF, CF, CF, OK, CF, OK, NS, CF},
     {1, UR, UR, UR, UR, UR, UR, UR, UR, UR, OK, UR, UR},
     {OK, WRITEFAULT, READFAULT, READFAULT, READFAULT, WRITEFAULT, OK, EFAIL, OK, READFAULT, READFAULT, OK},
     {OK, WRITEFAULT, READFAULT, READFAULT, READFAULT, WRITEFAULT, OK, EFAIL, OK, READFAULT, READFAULT, OK}},
    // clang-format on
};

// The cells wait far more than they compute: several run at once, and the scaled waits stay short.
// A client built with the sanitizers costs far more to start, so there fewer run at once and the
// waits are longer: a prompt completion must stay prompt on two busy cores.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kCellsAtOnce = 6;
constexpr double kTimeScale = 0.05;
#else
constexpr int kCellsAtOnce = 8;
constexpr double kTimeScale = 0.03;
#endif

// ---- Running one cell ----------------------------------------------------------------------------

struct Outcome {
  int result = HANG;
  std::string value;  // krill_client: the value printed; bridge_walk: the reply
  double elapsed_ms = 0;
  int exit_code = -1;
  std::string output;
};

// Runs argv (a full path) with the environment changed as given, standard output and error into
// `out`; kills it at the limit. Without `may_override_permissions` the child (and whatever
// it starts) loses the capabilities that let root write where permissions forbid it.
Outcome Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env_set,
              const fs::path& out, bool may_override_permissions, double limit_ms) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    if (!env_set.count(kv.substr(0, kv.find('=')))) env.push_back(kv);
  }
  for (const auto& [k, v] : env_set) env.push_back(k + "=" + v);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  Outcome o;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::close(fd);
    }
    if (!may_override_permissions) {
      // Fails harmlessly for a user without the capabilities in the first place.
      ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
      ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
      ::prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0);
    }
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) return o;
  int status = 0;
  bool killed = false;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms > limit_ms && !killed) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  o.elapsed_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  o.output = ReadFile(out);
  if (killed) {
    o.result = HANG;
  } else if (WIFSIGNALED(status)) {
    o.result = CRASH;
  } else {
    o.exit_code = WEXITSTATUS(status);
    o.result = NOLIB;  // until a result line says otherwise
  }
  return o;
}

// The modem's NVM items and the registry, file by file.
std::map<std::string, std::string> Snapshot(const fs::path& machine) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (fs::is_regular_file(machine / "registry.reg", ec)) files["registry.reg"] = ReadFile(machine / "registry.reg");
  for (auto it = fs::directory_iterator(machine / "modem" / "nvm", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    if (it->is_regular_file() && it->path().extension() == ".bin")
      files["modem/nvm/" + it->path().filename().string()] = ReadFile(it->path());
  return files;
}

void SetWritable(const fs::path& root, bool writable) {
  std::error_code ec;
  const auto apply = [&](const fs::path& p) {
    const bool dir = fs::is_directory(p, ec);
    ::chmod(p.c_str(), writable ? (dir ? 0755 : 0644) : (dir ? 0555 : 0444));
  };
  apply(root);
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    apply(it->path());
}

// The notebook's registry: the back-off index and profile both 0, so that every switch set of the
// matrix changes something; in the form the platform writes, so that a value written back as it
// was leaves the file as it was.
const char kRegistry[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR]\r\n"
    "\"Body_Sar_ON\"=dword:00000000\r\n"
    "\"Body_Sar_Profile\"=dword:00000000\r\n\r\n";

// Where the cells' notebooks live: in memory where the system offers it. The simulated modem syncs
// every NVM write to the disk inside its completion, and on a disk busy with other work that alone
// can outlast the scaled completion wait.
class MachinesFolder {
 public:
  explicit MachinesFolder(const fs::path& fallback) {
    std::error_code ec;
    const fs::path shm = "/dev/shm";
    if (fs::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0) {
      std::string name = "txl-matrix-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name();
      for (char& c : name)
        if (c == '/') c = '_';
      path_ = shm / name;
      fs::remove_all(path_, ec);
      if (fs::create_directories(path_, ec)) {
        owned_ = true;
        return;
      }
    }
    path_ = fallback;
  }
  ~MachinesFolder() {
    std::error_code ec;
    if (owned_) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  bool owned_ = false;
};

class FaultMatrix : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    // Hard links where the build and the temporary folder share a file system, copies elsewhere.
    const auto place = [&](const fs::path& from) {
      std::error_code ec;
      fs::create_hard_link(from, host_ / from.filename(), ec);
      if (ec) fs::copy_file(from, host_ / from.filename());
    };
    fs::create_directories(host_);
    place(KRILL_CLIENT);
    place(KRILL_LIBRARY);
    place(BRIDGE_WALK);
    const Row& row = GetParam();
    if (row.host != Host::kNoBridge) place(fs::path(TXL_BIN_DIR) / "VexelSarDll.so");
    if (row.host == Host::kLogsUnwritable) {
      WriteFile(host_ / "fbconfig.ini", "[BASE_CONFIG]\nLOG_LV=2\n");
      WriteFile(host_ / "Dll_log", "a file where the bridge's log folder belongs\n");
      fs::create_directories(host_ / "UpdateDebugLog.log");
    }
  }

  // A fresh notebook with the row's modem and registry.
  fs::path Notebook(Modem modem, int cell) {
    const Row& row = GetParam();
    const fs::path machine = machines_.path() / ("machine-" + std::to_string(cell));
    fs::create_directories(machine / "modem");
    WriteFile(machine / "modem" / "modem.ini", "[module]\n" + ModemModule(modem) + row.module + "[services]\n" +
                                                   row.services + "[faults]\n" + row.faults);
    // Enabled 0, mode 1: the enable and mode sets of the matrix both change the item.
    sim::NvmStore(machine, Family(modem)).Write(0x103d0000, 0, {0, 1});
    if (row.registry == Registry::kMalformed)
      WriteFile(machine / "registry.reg",
                std::string(kRegistry) + "\"Body_Sar_Broken\"=dword:\r\nnot a line of a registry\r\n");
    else
      WriteFile(machine / "registry.reg", kRegistry);
    // The registry's replacement is written beside it first: a folder in its place stops every
    // write, whoever runs it.
    if (row.registry == Registry::kUnwritable) fs::create_directories(machine / "registry.reg.tmp");
    if (row.host == Host::kLogsUnwritable)
      WriteFile(machine / "ProgramData" / "Corvid Kestrel Driver Package", "a file where a log folder belongs\n");
    return machine;
  }

  int Run(Tool tool, Modem modem, const Column& col, int cell, int expected, std::vector<std::string>* failures,
          double* elapsed_ms) {
    const Row& row = GetParam();
    const fs::path machine = Notebook(modem, cell);
    const auto before = Snapshot(machine);
    const bool read_only = row.host == Host::kMachineReadOnly;
    if (read_only) SetWritable(machine, false);

    std::vector<std::string> argv;
    std::string label;
    if (tool == Tool::kClient) {
      argv = {(host_ / "krill_client").string()};
      if (std::string(col.call) != "ready") argv.push_back("ready");
      argv.push_back(col.call);
      label = std::string(modem == Modem::kOsprey    ? "osprey "
                          : modem == Modem::kKestrel ? "kestrel "
                                                     : "direct ") +
              col.call;
    } else {
      argv = {(host_ / "bridge_walk").string(), tool == Tool::kAtSta ? "--at-sta" : "--at", col.call};
      label = std::string(tool == Tool::kAtSta ? "AtSendInterfaceSTA " : "AtSendInterface ") + col.call;
    }
    // Generous: twice the scaled waits, and time to start a process under the sanitizers. The
    // completion waits (5000 ms each) shrink with the scale only down to the round-trip floor.
    const double per_ms = std::max(scale_, static_cast<double>(plat::kRoundTripFloorMs) / 5000.0);
    const double bound_ms = 2.0 * col.budget_ms * per_ms + 5000;
    Outcome o = Spawn(argv, {{"TXL_MACHINE_DIR", machine.string()}, {"TXL_TIME_SCALE", plat::Format("%g", scale_)}},
                      dir_.path() / ("out-" + std::to_string(cell) + ".txt"), !read_only, bound_ms + 2000);
    if (read_only) SetWritable(machine, true);
    *elapsed_ms = o.elapsed_ms;

    // The result line of the cell's call.
    static const std::regex kReplyLine(
        R"re(== AtSendInterface(STA)?\(".*"\) -> (-?\d+) \(.*\), reply "(.*)" \(-?\d+ characters\))re");
    if (o.result == NOLIB) {
      for (const std::string& line : Lines(o.output)) {
        std::smatch m;
        if (tool == Tool::kClient) {
          const std::string head = std::string(col.call) + " -> ";
          if (line.rfind(head, 0) != 0) continue;
          std::istringstream in(line.substr(head.size()));
          in >> o.result;
          std::getline(in >> std::ws, o.value);
        } else if (std::regex_match(line, m, kReplyLine)) {
          o.result = std::stoi(m[2]);
          o.value = m[3];
        }
      }
    }

    const auto fail = [&](const std::string& why) {
      failures->push_back(label + ": " + why);
    };
    if (o.result == HANG) fail("no end within " + std::to_string(static_cast<int>(bound_ms)) + " ms");
    if (o.result == CRASH) fail("died of a signal:\n" + o.output);
    // Under the sanitizers a report fails the cell whatever the client went on to print.
    if (o.output.find("Sanitizer") != std::string::npos || o.output.find("runtime error:") != std::string::npos)
      fail("the sanitizers reported:\n" + o.output);
    if (tool == Tool::kClient && o.result > CRASH && o.exit_code != 0)
      fail("the client ended with " + std::to_string(o.exit_code));
    if (o.elapsed_ms > bound_ms) fail("took " + std::to_string(static_cast<int>(o.elapsed_ms)) + " ms, bound " +
                                      std::to_string(static_cast<int>(bound_ms)));
    const bool ready = tool == Tool::kClient && std::string(col.call) == "ready";
    if (ready) {
      // Always 0; the answer is the flag.
      if (o.result != 0 && o.result != NOLIB) fail("get_IsMBIMReady returned " + Name(o.result));
      if (o.result == 0) o.result = std::atoi(o.value.c_str());
    }
    if (o.result != expected)
      fail("expected " + Name(expected) + ", got " + Name(o.result) + " (" + o.value + ")");
    const bool untouched = o.value.empty() || o.value == "-7" || o.value == "7" || o.value == "untouched";
    if (!ready && tool == Tool::kClient && o.result != 0 && o.result > CRASH && !untouched)
      fail("failed with " + Name(o.result) + " but wrote its out value " + o.value);
    if (tool != Tool::kClient && o.result > CRASH && (o.result == 0) == (o.value == "ERROR"))
      fail("result " + Name(o.result) + " with the reply \"" + o.value + "\"");
    if (!col.changes || o.result != 0) {
      const auto after = Snapshot(machine);
      if (after != before) {
        std::string which;
        for (const auto& [name, bytes] : after)
          if (!before.count(name) || before.at(name) != bytes) which += " " + name;
        for (const auto& [name, bytes] : before)
          if (!after.count(name)) which += " " + name + "(gone)";
        fail(std::string(col.changes ? "failed" : "a read") + ", and changed" + which);
      }
    }
    std::error_code ec;
    fs::remove_all(machine, ec);
    return o.result;
  }

  const double scale_ = kTimeScale;
  TempDir dir_;
  fs::path host_ = dir_.path() / "host";
  MachinesFolder machines_{dir_.path()};
};

TEST_P(FaultMatrix, Cells) {
  const Row& row = GetParam();
  struct Cell {
    Tool tool;
    Modem modem;
    const Column* column;
    int expected;
    int seen = HANG;
  };
  std::vector<Cell> cells;
  for (const auto& [modem, expected] : {std::pair{Modem::kOsprey, &row.osprey},
                                        std::pair{Modem::kKestrel, &row.kestrel},
                                        std::pair{Modem::kOspreyDirect, &row.direct}})
    for (std::size_t i = 0; i < kExports.size(); ++i)
      cells.push_back({Tool::kClient, modem, &kExports[i], (*expected)[i]});
  for (const auto& [tool, modem, expected] : {std::tuple{Tool::kAt, Modem::kOsprey, &row.at},
                                              std::tuple{Tool::kAtSta, Modem::kKestrel, &row.sta}})
    for (std::size_t i = 0; i < kCommands.size(); ++i) cells.push_back({tool, modem, &kCommands[i], (*expected)[i]});

  // The cells wait far more than they compute: a few run at once.
  std::vector<std::string> failures;
  std::vector<double> times(cells.size());
  std::mutex mu;
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kCellsAtOnce; ++w)
    workers.emplace_back([&] {
      for (std::size_t i; (i = next++) < cells.size();) {
        std::vector<std::string> mine;
        Cell& c = cells[i];
        c.seen = Run(c.tool, c.modem, *c.column, static_cast<int>(i), c.expected, &mine, &times[i]);
        std::lock_guard<std::mutex> lock(mu);
        failures.insert(failures.end(), mine.begin(), mine.end());
      }
    });
  for (auto& w : workers) w.join();

  if (std::getenv("TXL_MATRIX_SHOW")) {
    std::string text = std::string("    {\"") + row.name + "\", ...";
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const bool first = i == 0 || i == 13 || i == 26 || i == 39 || i == 51;
      const bool last = i == 12 || i == 25 || i == 38 || i == 50 || i == 62;
      text += (first ? "\n     {" : ", ") + Name(cells[i].seen) + (last ? "}," : "");
    }
    double total = 0, longest = 0;
    for (double t : times) total += t, longest = std::max(longest, t);
    std::printf("%s\n    %zu cells, %.1f s, longest %.0f ms\n", text.c_str(), times.size(), total / 1000, longest);
  }
  std::string all;
  for (const std::string& f : failures) all += "\n  " + f;
  EXPECT_TRUE(failures.empty()) << failures.size() << " cells of row " << row.name << " failed:" << all;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& param) { return std::string(param.param.name); });

}  // namespace
