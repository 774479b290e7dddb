// The bridge and the library's own channel against the simulated modem in this process, with no
// modem latency and the notebook in memory: what each costs besides the waits the suite must make.
//   - one AT-style command through AtSendInterface: a registry-only switch, a switch query that
//     makes the full connect/exchange/disconnect cycle, and an Osprey and a Kestrel value set
//     (read the table, write it back), at bridge log levels 0 and 2;
//   - one session-layer request (QueryCommand) on a connection kept open, a round trip through the
//     simulator's completion thread;
//   - one own-channel exchange (open, the AT command service's exchange, close) without the pause
//     SendAtCommand makes before it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "api/support/global_tools.h"
#include "api/support/mbim/mbim_channel.h"
#include "api/values/value_records.h"
#include "bridge/front_door/at_interface.h"
#include "bridge/log/bridge_log.h"
#include "bridge/mbn/session_api.h"
#include "platform/process.h"
#include "sim/testing.h"

namespace {

namespace fs = std::filesystem;

// The notebooks of this run, removed at exit: in memory where the system has it, as the modem
// syncs every NVM write and the disk is not what is measured here.
struct Notebooks {
  Notebooks() {
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    root = base / ("txl-bench-" + std::to_string(plat::CurrentProcessId()));
    fs::remove_all(root, ec);
  }
  ~Notebooks() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
};

// One notebook per module family.
fs::path Notebook(const char* family) {
  static const Notebooks notebooks;
  const fs::path dir = notebooks.root / family;
  fs::create_directories(dir / "modem");
  std::ofstream(dir / "modem" / "modem.ini") << "[module]\nfamily=" << family << "\n";
  return dir;
}

// Puts the process on a family's notebook with the bridge at `level`; the level goes back after.
class Scene {
 public:
  Scene(const char* family, int level) : saved_level_(vexel::DebugLevel) {
    plat::SetEnv("TXL_MACHINE_DIR", Notebook(family).string().c_str());
    plat::SetEnv("TXL_SIM_TRACE", "0");
    sim::testing::ResetAll();
    vexel::DebugLevel = level;
  }
  ~Scene() { vexel::DebugLevel = saved_level_; }

 private:
  int saved_level_;
};

// The bridge's log file is opened at load; this program links the bridge, so it opens it once.
void OpenBridgeLogOnce() {
  static const bool opened = [] {
    vexel::OnProcessAttach();
    return true;
  }();
  (void)opened;
}

// A value set's record, filled as the control library fills it from a table text.
std::vector<std::uint8_t> OspreyRecord() {
  krill::MaxTxPwrRecord record{};
  krill::ApplyOspreyValueLists(krill::ParseOspreyValueLists(R"(1,200,"0x1",190,"0x2",205,"0x10")"), &record);
  return std::vector<std::uint8_t>(record.begin(), record.end());
}
std::vector<std::uint8_t> KestrelImage() {
  krill::ProfilePowerImage image{};
  krill::ApplyKestrelValueLists(krill::ParseKestrelValueLists(R"(2,200,"0x1",190,"0x10",210,"0x40")"), 1, &image);
  return std::vector<std::uint8_t>(image.begin(), image.end());
}

enum Command { kRegistrySwitch, kSwitchQuery, kOspreySet, kKestrelSet };

void BM_BridgeCommand(benchmark::State& state) {
  const auto command = static_cast<Command>(state.range(0));
  const int level = static_cast<int>(state.range(1));
  OpenBridgeLogOnce();
  const bool kestrel = command == kKestrelSet;
  Scene scene(kestrel ? "kestrel" : "osprey", level);
  std::vector<std::uint8_t> table = command == kOspreySet ? OspreyRecord() : kestrel ? KestrelImage() : std::vector<std::uint8_t>();
  const char16_t* text = command == kRegistrySwitch ? u"AT+BODYSARPROFILE = 1\r\n"
                         : command == kSwitchQuery  ? u"AT+BODYSAREN?\r\n"
                                                    : u"at+bodysar=\r\n";
  std::vector<char16_t> reply(4096);
  for (auto _ : state) {
    int length = 0;
    const int r = kestrel ? AtSendInterfaceSTA(text, reply.data(), &length, table.data())
                          : AtSendInterface(text, reply.data(), &length, table.empty() ? nullptr : table.data());
    if (r != 0) {
      state.SkipWithError("the command failed");
      break;
    }
  }
  state.SetLabel(std::string(command == kRegistrySwitch ? "registry-only switch"
                             : command == kSwitchQuery  ? "switch query, full cycle"
                             : kestrel                  ? "Kestrel value set"
                                                        : "Osprey value set") +
                 ", log level " + std::to_string(level));
}

void BM_SessionQuery(benchmark::State& state) {
  Scene scene("osprey", 0);
  static _MBIMIDS ids[kMaxEnumeratedInterfaces];
  long count = 0;
  char16_t nvm[] = u"{e10ff51b-ac2d-4104-86f6-8d621b430189}";
  auto* service = reinterpret_cast<unsigned short*>(nvm);
  if (EnumInterface(&count, ids) != 0 || count < 1 || ConnectInterface(reinterpret_cast<unsigned short*>(ids[0].InterfaceID)) != 0 ||
      OpenCommandSession(service) != 0) {
    state.SkipWithError("no connection");
    DisconnectInterface();
    return;
  }
  // Bytes 0 and 1 of the SAR parameter item: item id, offset, length.
  unsigned char request[12] = {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 2, 0, 0, 0};
  std::vector<unsigned char> response(4096);
  for (auto _ : state) {
    unsigned int length = static_cast<unsigned int>(response.size());
    if (QueryCommand(reinterpret_cast<unsigned short*>(ids[0].InterfaceID), service, 1, sizeof request, request,
                     &length, response.data()) != 0) {
      state.SkipWithError("the query failed");
      break;
    }
  }
  CloseCommandSession(service);
  DisconnectInterface();
}

void BM_OwnChannelExchange(benchmark::State& state) {
  Scene scene("osprey", 0);
  const std::string command = "AT+CGSN\r\n";
  for (auto _ : state) {
    void* object = nullptr;
    if (!IGlobalTools::CreateToolObject(IGlobalTools::CLSID_CMbimDeviceEx, &object) || !object) {
      state.SkipWithError("no channel object");
      break;
    }
    auto* channel = static_cast<IGlobalTools::IMbimChannel*>(object);
    std::string reply;
    const bool ok = channel->Open() == plat::S_OK &&
                    channel->ExecuteCmd(reinterpret_cast<const std::uint8_t*>(command.data()), command.size(), &reply,
                                        nullptr, IGlobalTools::kAtCommandServiceId, IGlobalTools::kAtCommandId) == plat::S_OK;
    channel->Close();
    if (!ok || reply.empty()) {
      state.SkipWithError("the exchange failed");
      break;
    }
  }
}

}  // namespace

BENCHMARK(BM_BridgeCommand)
    ->ArgsProduct({{kRegistrySwitch, kSwitchQuery, kOspreySet, kKestrelSet}, {0, 2}})
    ->ArgNames({"command", "level"})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SessionQuery)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OwnChannelExchange)->UseRealTime()->Unit(benchmark::kMicrosecond);

namespace {

// One line of the bridge's log file, as every line at levels 2 and 3 is written: two flushes, the
// second a data sync. The file is this program's own, in "Dll_log" beside it, on the disk the
// suite's hosts log to.
void BM_BridgeLogFileLine(benchmark::State& state) {
  OpenBridgeLogOnce();
  int i = 0;
  for (auto _ : state) {
    if (vexel::WriteLogFile("benchmark line %d of the bridge log\n", ++i) != 0) {
      state.SkipWithError("no log file");
      break;
    }
  }
}

}  // namespace

BENCHMARK(BM_BridgeLogFileLine)->UseRealTime()->Unit(benchmark::kMicrosecond);
