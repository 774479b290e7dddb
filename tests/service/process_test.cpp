// TXLGuard as a user runs it on the simulated notebook: its command line, and a whole run through
// the notebook's control manager (txlsim service ...).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/sync.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using txltest::ReadFile;

struct Result {
  int status = -1;
  std::string out;
};

const char kUsage[] =
    "Parameters:\n -install  to install the service.\n -remove   to remove the service.\n -console  to run in console mode.\n";

class ServiceProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app_);
    fs::copy_file(TXLGUARD, guard_);
  }

  // Runs a command line with the notebook's variables; the long waits a tenth as long.
  Result Run(const std::string& command) {
    const std::string line = "cd '" + app_.string() + "' && PATH='" + (dir_.path() / "path").string() +
                             "':\"$PATH\" TXL_TIME_SCALE=0.1 " + command + " 2>/dev/null";
    Result r;
    std::FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe) return r;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  Result Guard(const std::string& arg) { return Run("'" + guard_.string() + "' " + arg); }
  Result Sim(const std::string& args) { return Run(std::string("'") + TXLSIM + "' service " + args); }

  bool KeyExists() {
    std::unique_ptr<plat::RegistryKey> key;
    return plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\TXL", &key) == 0;
  }
  // Polls until the condition holds, at most 2000 rounds of a scaled half second.
  template <class Condition>
  bool Eventually(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
      if (condition()) return true;
      plat::SleepMs(500);
    }
    return condition();
  }
  void WriteScript(const fs::path& file, const std::string& body) {
    txltest::WriteFile(file, "#!/bin/sh\n" + body);
    fs::permissions(file, fs::perms::owner_all, fs::perm_options::add);
  }

  txltest::TempDir dir_;
  txltest::MachineDirScope machine_{dir_.path() / "notebook"};
  fs::path app_ = dir_.path() / "Program Files" / "TXL";
  fs::path guard_ = app_ / "TXLGuard";
};

TEST_F(ServiceProcess, CommandLineTable) {
  {
    std::unique_ptr<plat::RegistryKey> key;
    ASSERT_EQ(plat::CreateRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\TXL", &key), 0);
  }
  struct Case {
    const char* arg;
    std::string out;
  } cases[] = {
      {"", std::string("Service failed to run w/err 0x00000427\n") + kUsage},
      {"service-mode-anyway", std::string("Service failed to run w/err 0x00000427\n") + kUsage},
      {"-bogus", kUsage},
      {"/", kUsage},
      {"-console", ""},
      {"/INSTALL", "TXLGuard is installed.\n"},
      {"-install", "CreateService failed w/err 0x00000431\n"},
      {"-Remove", "TXLGuard is removed.\n"},  // not running: no stop loop
      {"/remove", "OpenService failed w/err 0x00000424\n"},
  };
  for (const auto& c : cases) {
    const Result r = Guard(c.arg);
    EXPECT_EQ(r.status, 0) << c.arg;
    EXPECT_EQ(r.out, c.out) << c.arg;
  }
  // The console run (and each failed service-mode run) removed the empty version key.
  EXPECT_FALSE(KeyExists());
}

TEST_F(ServiceProcess, APathTheModuleBufferCannotHoldIsNotInstalled) {
  fs::path deep = dir_.path();
  while (deep.string().size() < 300) deep /= "a-folder-name-of-some-length";
  fs::create_directories(deep);
  fs::copy_file(guard_, deep / "TXLGuard");
  EXPECT_EQ(Run("'" + (deep / "TXLGuard").string() + "' -install").out,
            "GetModuleFileName failed w/err 0x0000007a\n");
  EXPECT_NE(Guard("-remove").out, "TXLGuard is removed.\n");  // nothing was installed
}

TEST_F(ServiceProcess, InstallStartStopRemoveWithTheUtility) {
  const fs::path marker = dir_.path() / "utility-ran";
  const fs::path release = dir_.path() / "release";
  const fs::path hijack = dir_.path() / "tixel-ran";
  // The utility stays until the test releases it: the service must not wait for it.
  WriteScript(app_ / "Tixel Utility.exe", "echo \"args:$#\" > '" + marker.string() + "'\nfor i in $(seq 200); do [ -e '" +
                                              release.string() + "' ] && exit 0; sleep 0.05; done\n");
  for (const fs::path& decoy : {app_ / "Tixel", dir_.path() / "path" / "Tixel", dir_.path() / "path" / "Tixel.exe"}) {
    WriteScript(decoy, "touch '" + hijack.string() + "'\n");
  }

  EXPECT_EQ(Guard("-install").out, "TXLGuard is installed.\n");
  const Result started = Sim("start TXLGuard");
  EXPECT_EQ(started.status, 0);
  EXPECT_NE(started.out.find("STATE : 4 RUNNING"), std::string::npos) << started.out;
  EXPECT_NE(Sim("query TXLGuard").out.find("STATE : 4 RUNNING"), std::string::npos);

  // During the run: the version values, whatever folder the service runs from.
  ASSERT_TRUE(KeyExists());
  std::unique_ptr<plat::RegistryKey> key;
  ASSERT_EQ(plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\TXL", &key), 0);
  std::u16string image;
  EXPECT_EQ(key->QueryString(u"ImagePath", &image), 0);
  EXPECT_EQ(image, u"C:\\Windows\\SysWOW64\\TXLGuard.exe");
  key.reset();

  ASSERT_TRUE(Eventually([&] { return ReadFile(marker) == "args:0\n"; })) << ReadFile(marker);
  EXPECT_FALSE(fs::exists(release));  // still running while the service reports running

  const Result stopped = Sim("stop TXLGuard");
  EXPECT_EQ(stopped.status, 0);
  EXPECT_NE(stopped.out.find("STATE : 1 STOPPED"), std::string::npos) << stopped.out;
  EXPECT_EQ(Sim("history TXLGuard").out, "START_PENDING 1 0 0\nRUNNING 0 0 0\nSTOP_PENDING 2 0 0\nSTOPPED 0 0 0\n");
  EXPECT_TRUE(Eventually([&] { return !KeyExists(); }));

  const std::string debug = ReadFile(dir_.path() / "notebook" / "debug-output.log");
  const std::string command_line = "\"" + (app_ / "Tixel Utility.exe").string() + "\"";
  EXPECT_NE(debug.find("LaunchFWApplication: Call CreateProcess (" + command_line + ")"), std::string::npos) << debug;
  EXPECT_NE(debug.find("tool return 0"), std::string::npos);
  EXPECT_EQ(debug.find("Service start: PerformCmdWithID(DEF_ACTION_UPDATE) fail"), std::string::npos);

  EXPECT_EQ(Guard("-remove").out, "TXLGuard is removed.\n");
  txltest::WriteFile(release, "");
  EXPECT_FALSE(fs::exists(hijack));
}

TEST_F(ServiceProcess, RemoveStopsARunningServiceWithoutItsUtility) {
  EXPECT_EQ(Guard("-install").out, "TXLGuard is installed.\n");
  EXPECT_EQ(Sim("start TXLGuard").status, 0);
  const std::string debug = ReadFile(dir_.path() / "notebook" / "debug-output.log");
  EXPECT_NE(debug.find("PerformCmdWithID: LaunchFWApplication get non-zero exit code"), std::string::npos);

  EXPECT_EQ(Guard("-remove").out, "Stopping TXLGuard.\nTXLGuard is stopped.\nTXLGuard is removed.\n");
  EXPECT_TRUE(Eventually([&] { return !KeyExists(); }));
  EXPECT_NE(Sim("query TXLGuard").status, 0);  // gone from the database
}

}  // namespace
