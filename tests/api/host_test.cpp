// The support services as a program of the suite meets them: a small host program copied into a
// folder of its own (with its own "fbconfig.ini"), run as a separate process against a fresh
// simulated notebook.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "platform/dll.h"
#include "platform/text.h"
#include "tests/platform/child_process.h"
#include "tests/platform/test_support.h"

namespace {

namespace fs = std::filesystem;
using txl_test::ChildProcess;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(host_);
    fs::copy_file(fs::path(TXL_BIN_DIR) / "api_child", Host());
  }
  void Config(const std::string& text) { std::ofstream(host_ / "fbconfig.ini", std::ios::binary) << text; }
  std::string Host() const { return (host_ / "api_child").string(); }
  // Runs the host to its end; true when it exited with 0.
  bool Run(std::vector<std::string> args, std::string* out = nullptr) {
    const fs::path output = dir_.path() / "out.txt";
    args.insert(args.begin(), Host());
    std::string cmd = "'" + Host() + "'";
    for (std::size_t i = 1; i < args.size(); ++i) cmd += " '" + args[i] + "'";
    const int status = std::system((cmd + " > '" + output.string() + "' 2>&1").c_str());
    if (out) *out = ReadText(output);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  fs::path Machine() const { return dir_.path() / "machine"; }
  fs::path ChannelLogsFolder(const std::string& log_path = "Corvid Kestrel Driver Package") const {
    return Machine() / "ProgramData" / log_path / "logs";
  }

  txl_test::TempFolder dir_;
  fs::path host_ = dir_.path() / "host";
  txl_test::ScopedEnv env_{"TXL_MACHINE_DIR", Machine().string().c_str()};
};

TEST_F(HostTest, ApiLogWritesBesideTheExecutableWhateverLogPathSays) {
  Config("[BASE_CONFIG]\nLOG_LV=2\nLOG_PATH=Elsewhere\n");
  ASSERT_TRUE(Run({"api-log", "2", "hello api"}));
  const std::string log = ReadText(host_ / "UpdateDebugLog.log");
  EXPECT_TRUE(std::regex_match(log, std::regex(R"(\[\d+\] \[\d+\] \d\d-\d\d \d\d:\d\d:\d\d:\d{3} : hello api\n)")))
      << log;
  EXPECT_FALSE(fs::exists(ChannelLogsFolder("Elsewhere")));
}

TEST_F(HostTest, WithoutConfigurationNothingIsWritten) {
  ASSERT_TRUE(Run({"api-log", "0", "unseen"}));
  ASSERT_TRUE(Run({"channel-log", "0", "unseen"}));
  EXPECT_FALSE(fs::exists(host_ / "UpdateDebugLog.log"));
  EXPECT_FALSE(fs::exists(ChannelLogsFolder()));
}

TEST_F(HostTest, ChannelLogIsNamedAfterTheExecutableUnderProgramData) {
  Config("[BASE_CONFIG]\nLOG_LV=0\n");
  ASSERT_TRUE(Run({"channel-log", "0", "to the channel log"}));
  ASSERT_TRUE(Run({"channel-log", "2", "above the level"}));
  const std::string log = ReadText(ChannelLogsFolder() / "api_child.log");
  EXPECT_NE(log.find(" : to the channel log\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("above the level"), std::string::npos) << log;
}

TEST_F(HostTest, ChannelLogHoldsTheLibrarysReferenceAndOnePerCaller) {
  std::string out;
  ASSERT_TRUE(Run({"channel-refs"}, &out)) << out;
  // Made with 1, 1 for the library, 1 for GetChannelLog: the next AddRef gives 4; the factory's
  // reference and one more give 6.
  EXPECT_EQ(out, "4 6\n");
}

TEST_F(HostTest, TwoProcessesContendingForTheProcessLockTakeTurns) {
  const fs::path marker = dir_.path() / "marker.txt";
  ChildProcess first({Host(), "lock", marker.string()});
  ChildProcess second({Host(), "lock", marker.string()});
  ASSERT_TRUE(first.started() && second.started());
  const int s1 = first.Wait(), s2 = second.Wait();
  ASSERT_TRUE(WIFEXITED(s1) && WEXITSTATUS(s1) == 0);
  ASSERT_TRUE(WIFEXITED(s2) && WEXITSTATUS(s2) == 0);
  const std::string a = std::to_string(first.pid()), b = std::to_string(second.pid());
  const std::string text = ReadText(marker);
  EXPECT_TRUE(text == a + " in\n" + a + " out\n" + b + " in\n" + b + " out\n" ||
              text == b + " in\n" + b + " out\n" + a + " in\n" + a + " out\n")
      << text;
}

// Two processes that write table rows at once, each row a read-modify-write of the whole record
// (the library reads it, the bridge reads it again and writes it): every row of both ends in the
// table whole, none lost to the other process's write of a record read before it.
TEST_F(HostTest, TwoProcessesWritingTableRowsKeepEveryRowWhole) {
  fs::copy_file(fs::path(TXL_BIN_DIR) / "VexelSarDll.so", host_ / "VexelSarDll.so");
  fs::create_directories(Machine() / "modem");
  // Each completion of the modem comes late, so that the two processes' exchanges overlap.
  std::ofstream(Machine() / "modem" / "modem.ini", std::ios::binary) << "[faults]\nlatency_ms=100\n";
  txl_test::ScopedEnv scale{"TXL_TIME_SCALE", "0.1"};
  // Two bands of the modem's factory table a row, on both technologies; the values read back as
  // written (multiples of 5 tenths) and differ from the factory's.
  struct Row {
    int technology;
    int value;
    const char* masks[2];
  };
  const std::vector<Row> first = {{1, 100, {"1", "2"}}, {2, 105, {"1", "2"}}, {2, 110, {"4", "8"}}};
  const std::vector<Row> second = {{1, 150, {"8", "10"}}, {2, 155, {"40", "800"}}, {2, 160, {"1000", "1000000"}}};
  auto line = [](const Row& r, int i) {
    return std::to_string(r.technology) + "," + std::to_string(r.value) + ",\"0x" + r.masks[i] + "\"";
  };
  auto command = [&](const std::vector<Row>& rows) {
    std::vector<std::string> argv = {Host(), "values"};
    for (const Row& r : rows) argv.push_back(line(r, 0) + line(r, 1).substr(1));
    return argv;
  };
  ChildProcess one(command(first));
  ChildProcess two(command(second));
  ASSERT_TRUE(one.started() && two.started());
  const int s1 = one.Wait(), s2 = two.Wait();
  EXPECT_TRUE(WIFEXITED(s1) && WEXITSTATUS(s1) == 0) << s1;
  EXPECT_TRUE(WIFEXITED(s2) && WEXITSTATUS(s2) == 0) << s2;

  std::string out;
  ASSERT_TRUE(Run({"values"}, &out)) << out;
  std::smatch read;
  ASSERT_TRUE(std::regex_search(out, read, std::regex(R"(read 0 (\S*))"))) << out;
  const std::string table = read[1].str();
  for (const auto* rows : {&first, &second})
    for (const Row& r : *rows)
      for (int i : {0, 1})
        EXPECT_NE(table.find("\\r\\n" + line(r, i) + "\\r\\n"), std::string::npos) << line(r, i) << " in " << table;
}

TEST_F(HostTest, CrashIsRecordedOnlyWhenNoRecordExists) {
  const fs::path dump = Machine() / "Windows" / "Minidump" / "krillTXLApi.dump";
  fs::create_directories(dump.parent_path());
  ChildProcess first({Host(), "crash"});
  const int s1 = first.Wait();
  ASSERT_TRUE(WIFSIGNALED(s1) && WTERMSIG(s1) == SIGSEGV) << s1;
  const std::string record = ReadText(dump);
  EXPECT_EQ(record.rfind("signal " + std::to_string(SIGSEGV) + "\nprocess " + std::to_string(first.pid()) + "\n", 0),
            0u)
      << record;

  ChildProcess second({Host(), "crash"});
  const int s2 = second.Wait();
  ASSERT_TRUE(WIFSIGNALED(s2) && WTERMSIG(s2) == SIGSEGV) << s2;
  EXPECT_EQ(ReadText(dump), record) << "the first crash's record stays";
}

TEST_F(HostTest, LoadingTheLibraryOpensTheProcessLock) {
  const fs::path lock_file = Machine() / "locks" / "Global_KrillMbn{51766A46-2426-441F-8408-074C1A87F53A}MutexLock";
  ASSERT_FALSE(fs::exists(lock_file));
  auto library = plat::LoadDynamicLibrary(plat::Utf8ToUtf16((fs::path(TXL_BIN_DIR) / "libkrillTXLApi.so").string()));
  ASSERT_TRUE(library);
  EXPECT_TRUE(fs::exists(lock_file));
}

}  // namespace
