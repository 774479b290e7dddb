// The built TxlApply as it is installed: the program, krillTXLApi and VexelSarDll copied into a
// folder of their own, run as a separate process against a fresh simulated notebook.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <string>
#include <vector>

#include "platform/named_mutex.h"
#include "test_support.h"
#include "tool/txl_apply.h"

namespace {

using namespace txltest;

// The NVM access service; its set requests are the writes to the modem's item.
const char kNvmSet[] = R"("op":"set","iface":)";
const char kNvmService[] = "e10ff51b-ac2d-4104-86f6-8d621b430189";
// An NVM write of one flag byte: item, offset and length (4 bytes each) and the byte, in hex.
constexpr std::size_t kFlagWriteHex = 2 * (12 + 1);

class ToolProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The bridge's log folder is beside the host program: in memory too.
    host_ = memory_.path() / "host";
    fs::create_directories(host_);
    fs::copy_file(TXL_APPLY, host_ / fs::path(TXL_APPLY).filename());
    fs::copy_file(KRILL_LIBRARY, host_ / fs::path(KRILL_LIBRARY).filename());
    fs::copy_file(fs::path(TXL_BIN_DIR) / "VexelSarDll.so", host_ / "VexelSarDll.so");
  }

  std::string Env() const {
    return "cd / && env TXL_MACHINE_DIR='" + (memory_.path() / "machine").string() + "' TXL_SIM_TRACE=1 TXL_TIME_SCALE=0.01 ";
  }

  // Runs TxlApply with the arguments as given to the shell; returns its exit code.
  int Apply(const std::string& args) {
    const std::string cmd = Env() + "'" + (host_ / "TxlApply").string() + "' " + args + " > '" +
                            (dir_.path() / "out.txt").string() + "' 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The tables as get_BodySarValue reads them back, through the control library's test client.
  std::string ReadBack() {
#ifdef KRILL_CLIENT
    if (!fs::exists(host_ / "krill_client")) fs::copy_file(KRILL_CLIENT, host_ / "krill_client");
    const fs::path out = dir_.path() / "client.txt";
    const std::string cmd = Env() + "TXL_SIM_TRACE=0 '" + (host_ / "krill_client").string() + "' ready get-value > '" +
                            out.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    for (const auto& line : Lines(ReadFile(out)))
      if (line.rfind("get-value -> 0 ", 0) == 0) return line;
    ADD_FAILURE() << ReadFile(out);
#else
    ADD_FAILURE() << "the control library's test client is not built";
#endif
    return {};
  }

  void ModemIni(const std::string& text) { WriteFile(memory_.path() / "machine" / "modem" / "modem.ini", text); }

  std::vector<std::string> Trace() const { return Lines(ReadFile(memory_.path() / "machine" / "modem" / "trace.jsonl")); }

  // The hex payloads of the NVM writes from trace line `from` on.
  std::vector<std::string> NvmWrites(std::size_t from = 0) const {
    std::vector<std::string> writes;
    const auto trace = Trace();
    for (std::size_t i = from; i < trace.size(); ++i) {
      const std::string& line = trace[i];
      if (line.find(kNvmSet) == std::string::npos || line.find(kNvmService) == std::string::npos) continue;
      const auto data = line.find(R"("data":")");
      writes.push_back(line.substr(data + 8, line.find('"', data + 8) - data - 8));
    }
    return writes;
  }

  static std::size_t LongerThanAFlag(const std::vector<std::string>& writes) {
    return static_cast<std::size_t>(
        std::count_if(writes.begin(), writes.end(), [](const std::string& w) { return w.size() > kFlagWriteHex; }));
  }

  static void ExpectRows(const std::string& read_back, std::span<const std::string_view> rows) {
    for (auto row : rows) EXPECT_NE(read_back.find(row), std::string::npos) << row << " in " << read_back;
  }

  TempDir dir_;
  TempDir memory_{true};  // the notebook
  fs::path host_;
};

TEST_F(ToolProcessTest, NoArgumentOrAnotherFirstCharacterReachesNoModem) {
  for (const char* args : {"", "''", "5", "x1", "' 1'", "-1", "9 1"}) {
    EXPECT_EQ(Apply(args), 0) << args;
    EXPECT_TRUE(Trace().empty()) << args;
  }
}

TEST_F(ToolProcessTest, BackOffSwitchByFirstCharacter) {
  const struct {
    const char* args;
    const char* index_hex;  // the back-off index, last field of the MS SAR configuration
  } cases[] = {{"30", "01000000"}, {"4x", "00000000"}, {"3", "01000000"}, {"4", "00000000"}};
  for (const auto& c : cases) {
    const std::size_t before = Trace().size();
    EXPECT_EQ(Apply(c.args), 0) << c.args;
    const auto trace = Trace();
    std::string last_config;
    for (std::size_t i = before; i < trace.size(); ++i)
      if (trace[i].find(R"("op":"set")") != std::string::npos && trace[i].find("68223D04") != std::string::npos)
        last_config = trace[i];
    ASSERT_FALSE(last_config.empty()) << c.args;
    EXPECT_NE(last_config.find(std::string(c.index_hex) + "\"}"), std::string::npos) << c.args << ": " << last_config;
    EXPECT_TRUE(NvmWrites(before).empty()) << c.args;
  }
}

TEST_F(ToolProcessTest, SetOneOnAFreshNotebookThenInPlace) {
  EXPECT_EQ(Apply("1"), 0);
  // The clear and the four rows write whole tables.
  EXPECT_GE(LongerThanAFlag(NvmWrites()), 4u);
  ExpectRows(ReadBack(), txlapply::kSet1CheckRows);

  const std::size_t before = Trace().size();
  EXPECT_EQ(Apply("1"), 0);
  const auto second = NvmWrites(before);
  EXPECT_EQ(LongerThanAFlag(second), 0u) << second.size() << " writes";
  ExpectRows(ReadBack(), txlapply::kSet1CheckRows);
}

TEST_F(ToolProcessTest, OneMissingRowRewritesTheWholeSet) {
  ASSERT_EQ(Apply("1"), 0);
#ifdef KRILL_CLIENT
  // 4G band 7 at 19.0 dBm instead of 20.5.
  fs::copy_file(KRILL_CLIENT, host_ / "krill_client");
  const std::string cmd = Env() + "TXL_SIM_TRACE=0 '" + (host_ / "krill_client").string() +
                          R"(' ready 'set-value=2,190,"0x40"' > /dev/null 2>&1)";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
#endif
  ASSERT_EQ(ReadBack().find(R"(2,205,"0x40")"), std::string::npos);
  const std::size_t before = Trace().size();
  EXPECT_EQ(Apply("10"), 0);
  EXPECT_GE(LongerThanAFlag(NvmWrites(before)), 4u);
  ExpectRows(ReadBack(), txlapply::kSet1CheckRows);
}

TEST_F(ToolProcessTest, SetZeroWritesEveryRowEachTime) {
  for (int run = 0; run < 2; ++run) {
    const std::size_t before = Trace().size();
    EXPECT_EQ(Apply("0"), 0);
    EXPECT_EQ(LongerThanAFlag(NvmWrites(before)), txlapply::kSet0Rows.size()) << "run " << run;
  }
  // Rows 4 to 6 reach their bands (4G 1, 3 and 5 were at other values before). The read-back
  // lists only bands the modem's table holds elements for; bands 8, 20 and 28 are not among them.
  ExpectRows(ReadBack(), std::span(txlapply::kSet0Rows).subspan(3, 3));
}

TEST_F(ToolProcessTest, SetTwoOnKestrelRewritesEveryTime) {
  ModemIni("[module]\nfamily=kestrel\n");
  for (int run = 0; run < 2; ++run) {
    const std::size_t before = Trace().size();
    EXPECT_EQ(Apply("2"), 0) << "run " << run;
    EXPECT_GE(LongerThanAFlag(NvmWrites(before)), 4u) << "run " << run;
  }
  const std::string read_back = ReadBack();
  EXPECT_EQ(read_back.find(R"(2,225,"0x2000")"), std::string::npos) << "no band 14 on this family";
  EXPECT_NE(read_back.find(R"(2,210,"0x10000000000")"), std::string::npos) << read_back;
}

TEST_F(ToolProcessTest, ARunWaitsWhileAnotherHoldsTheRunLock) {
  // This process takes the lock as a run of the tool would, on the same notebook.
  const std::string machine = (memory_.path() / "machine").string();
  const char* old = std::getenv("TXL_MACHINE_DIR");
  const std::string saved = old ? old : "";
  ::setenv("TXL_MACHINE_DIR", machine.c_str(), 1);
  const auto lock = plat::OpenNamedMutex(txlapply::kRunLockName);
  if (old) ::setenv("TXL_MACHINE_DIR", saved.c_str(), 1); else ::unsetenv("TXL_MACHINE_DIR");
  ASSERT_TRUE(lock);
  ASSERT_EQ(lock->Wait(), plat::WAIT_OBJECT_0);

  const fs::path done = dir_.path() / "done";
  const std::string cmd = "(" + Env() + "'" + (host_ / "TxlApply").string() + "' 1 >/dev/null 2>&1; echo $? > '" +
                          done.string() + "') &";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(Trace().empty()) << "the run reached the modem while another held the lock";
  EXPECT_FALSE(fs::exists(done));
  ASSERT_TRUE(lock->Release());

  for (int i = 0; i < 600 && ReadFile(done).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(done), "0\n");
  ExpectRows(ReadBack(), txlapply::kSet1CheckRows);
}

// Runs of the tool on one notebook, each started in the background after the given pause
// (seconds), the ones marked killed ended with SIGKILL after another pause; waits for all.
struct Launch {
  const char* args;
  double start_after;
  double kill_after;  // < 0: runs to its end
};

TEST_F(ToolProcessTest, RunsStartedTogetherEndWithOneWholeSet) {
  // Completions well inside the bridge's wait, slow enough that two runs overlap everywhere.
  ModemIni("[faults]\nlatency_ms=1500\n");
  const char* env_rounds = std::getenv("TXL_CONCURRENT_ROUNDS");
  const int rounds = env_rounds ? std::atoi(env_rounds) : 2;
  const struct {
    std::vector<Launch> runs;
  } cases[] = {
      {{{"1", 0, -1}, {"2", 0, -1}}},
      // A run killed while it holds the locks (at any point) never blocks the next one.
      {{{"1", 0, 0.3}, {"2", 0.1, -1}}},
      {{{"2", 0, 1.5}, {"1", 0.1, -1}}},
  };
  for (int round = 0; round < rounds; ++round) {
    for (const auto& c : cases) {
      std::string script = "(";
      for (const Launch& run : c.runs) {
        // exec: the background job's pid is the tool's own.
        std::string apply = Env() + "'" + (host_ / "TxlApply").string() + "' " + run.args + " >/dev/null 2>&1";
        apply.replace(apply.find("&& env "), 7, "&& exec env ");
        script += "(sleep " + std::to_string(run.start_after) + "; ";
        if (run.kill_after < 0)
          script += apply + ") & ";
        else
          script += "(" + apply + ") & p=$!; sleep " + std::to_string(run.kill_after) + "; kill -9 $p 2>/dev/null; " +
                    "wait $p; true) 2>/dev/null & ";
      }
      script += "wait)";
      ASSERT_EQ(std::system(script.c_str()), 0) << script;
      const std::string read_back = ReadBack();
      const bool set1 = txlapply::MissingRows(read_back, txlapply::kSet1CheckRows) == 0;
      const bool set2 = txlapply::MissingRows(read_back, txlapply::kSet2CheckRows) == 0;
      EXPECT_TRUE(set1 || set2) << "round " << round << ", " << c.runs[0].args << "+" << c.runs[1].args
                                << ": neither set whole in " << read_back;
      // Where one run was killed, the other applied its own set after it.
      if (c.runs.front().kill_after >= 0) {
        EXPECT_TRUE(std::string(c.runs.back().args) == "1" ? set1 : set2) << "round " << round << ": " << read_back;
      }
    }
  }
}

TEST_F(ToolProcessTest, FailingTableWritesShowInTheExitCode) {
  ModemIni("[faults]\nfail=nvm:set=0x80004005\n");
  EXPECT_NE(Apply("2"), 0);
  EXPECT_NE(Apply("0"), 0);
}

}  // namespace
