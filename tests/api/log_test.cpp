// The two logs in this process, reading their settings from a configuration file of the test's
// own, writing into a fresh simulated notebook.
#include "api/support/log/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/text.h"
#include "tests/platform/test_support.h"

namespace {

namespace fs = std::filesystem;
using IGlobalTools::CLog;
using IGlobalTools::CLogEx;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The message of a line: what follows the prefix.
std::string MessageOf(const std::string& line) {
  const auto at = line.find(" : ");
  return at == std::string::npos ? line : line.substr(at + 3);
}

plat::LocalTime FixedTime() { return plat::LocalTime{2025, 3, 4, 9, 5, 3, 7, 2}; }

// Releases a log at the end of the test.
template <typename Log>
struct Releaser {
  void operator()(Log* log) const { log->Release(); }
};
template <typename Log>
using Held = std::unique_ptr<Log, Releaser<Log>>;

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override { IGlobalTools::SetLogClock(nullptr); }

  void Config(const std::string& text) { std::ofstream(Ini(), std::ios::binary) << text; }
  fs::path Ini() const { return config_dir_.path() / "fbconfig.ini"; }
  std::u16string IniW() const { return plat::Utf8ToUtf16(Ini().string()); }
  Held<CLog> NewLog() { return Held<CLog>(new CLog(IniW())); }
  Held<CLogEx> NewLogEx() { return Held<CLogEx>(new CLogEx(IniW())); }

  // Where this test program's lines go by default.
  fs::path LogsFolder(const std::string& log_path = "Corvid Kestrel Driver Package") const {
    return machine_.path() / "ProgramData" / log_path / "logs";
  }
  std::string Exe() const { return fs::path(plat::Utf16ToUtf8(plat::HostExecutablePath())).filename().string(); }

  txl_test::TempFolder machine_;
  txl_test::TempFolder config_dir_;
  txl_test::ScopedEnv env_{"TXL_MACHINE_DIR", machine_.path().string().c_str()};
};

TEST_F(LogTest, LevelsPassUpToLogLv) {
  struct Case {
    const char* config;  // null: no file
    std::vector<std::string> written;
  };
  const Case cases[] = {
      {nullptr, {}},
      {"[BASE_CONFIG]\nLOG_PATH=Corvid Kestrel Driver Package\n", {}},
      {"[OTHER]\nLOG_LV=2\n", {}},
      {"[BASE_CONFIG]\nLOG_LV=-1\n", {}},
      {"[BASE_CONFIG]\nLOG_LV=0\n", {"level 0"}},
      {"[BASE_CONFIG]\nLOG_LV=1\n", {"level 0", "level 1"}},
      {"[base_config]\nlog_lv = 2\n", {"level 0", "level 1", "level 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config ? c.config : "(no file)");
    fs::remove_all(machine_.path() / "ProgramData");
    fs::remove(Ini());
    if (c.config) Config(c.config);
    auto log = NewLog();
    auto log_ex = NewLogEx();
    for (int level = 0; level <= 2; ++level) {
      EXPECT_EQ(log->WriteLog(level, "level %d", level), level);
      log_ex->WriteLog(level, "level %d", level);
    }
    std::vector<std::string> got, got_ex;
    for (const auto& line : Lines(ReadText(LogsFolder() / (Exe() + ".log")))) got.push_back(MessageOf(line));
    for (const auto& line : Lines(ReadText(LogsFolder() / (Exe() + "Ex.log")))) got_ex.push_back(MessageOf(line));
    EXPECT_EQ(got, c.written);
    EXPECT_EQ(got_ex, c.written);
  }
}

TEST_F(LogTest, LevelIsReadAgainForEveryLine) {
  auto log = NewLog();
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  log->WriteLog(2, "first");
  Config("[BASE_CONFIG]\nLOG_LV=0\n");
  log->WriteLog(2, "second");
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  log->WriteLog(2, "third");
  const auto lines = Lines(ReadText(LogsFolder() / (Exe() + ".log")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "first");
  EXPECT_EQ(MessageOf(lines[1]), "third");
}

TEST_F(LogTest, LineIsPrefixedWithProcessThreadAndLocalTime) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  IGlobalTools::SetLogClock(&FixedTime);
  auto log = NewLog();
  log->WriteLog(0, "value %d of %s %ls", 42, "eight", u"wide");
  const std::string expected =
      plat::Format("[%d] [%d] 03-04 09:05:03:007 : value 42 of eight wide\n", static_cast<int>(plat::CurrentProcessId()),
                   static_cast<int>(plat::CurrentThreadId()));
  EXPECT_EQ(ReadText(LogsFolder() / (Exe() + ".log")), expected);
}

TEST_F(LogTest, LongMessagesAreCutAt16383Characters) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLog();
  for (const std::size_t length : {16382u, 16383u, 16384u, 40000u}) {
    SCOPED_TRACE(length);
    fs::remove(LogsFolder() / (Exe() + ".log"));
    const std::string message(length, 'x');
    log->WriteLog(0, "%s", message.c_str());
    const auto lines = Lines(ReadText(LogsFolder() / (Exe() + ".log")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]).size(), std::min<std::size_t>(length, 16383));
  }
}

TEST_F(LogTest, ChannelLogFollowsLogPathForEveryLine) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLog();
  log->WriteLog(0, "default");
  Config("[BASE_CONFIG]\nLOG_LV=2\nLOG_PATH=Elsewhere\n");
  log->WriteLog(0, "moved");
  EXPECT_EQ(MessageOf(ReadText(LogsFolder() / (Exe() + ".log"))), "default\n");
  EXPECT_EQ(MessageOf(ReadText(LogsFolder("Elsewhere") / (Exe() + ".log"))), "moved\n");
  EXPECT_EQ(log->LogFile(), (LogsFolder("Elsewhere") / (Exe() + ".log")).string());
}

TEST_F(LogTest, LogPathIsCutAt259Characters) {
  // "Cut/" and 255 characters make 259; the 4 after them would make a name too long to create.
  const std::string kept = "Cut/" + std::string(255, 'p');
  fs::create_directories(machine_.path() / "ProgramData" / "Cut");
  Config("[BASE_CONFIG]\nLOG_LV=2\nLOG_PATH=" + kept + "TAIL\n");
  auto log = NewLog();
  log->WriteLog(0, "cut");
  EXPECT_EQ(MessageOf(ReadText(LogsFolder(kept) / (Exe() + ".log"))), "cut\n");
}

TEST_F(LogTest, ChannelLogUsesASetPathOnlyWhenDerivationFails) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLog();
  const fs::path mine = config_dir_.path() / "mine.log";
  log->SetLogFile(mine.string());
  log->WriteLog(0, "derived wins");
  EXPECT_FALSE(fs::exists(mine));
  EXPECT_EQ(MessageOf(ReadText(LogsFolder() / (Exe() + ".log"))), "derived wins\n");

  // A LOG_PATH whose parent is missing cannot be made: the current path stays.
  log->SetLogFile(mine.string());
  Config("[BASE_CONFIG]\nLOG_LV=2\nLOG_PATH=no/such/folder\n");
  log->WriteLog(0, "kept");
  EXPECT_EQ(MessageOf(ReadText(mine)), "kept\n");
}

TEST_F(LogTest, ApiLogKeepsTheFileItWasGiven) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLogEx();
  log->WriteLog(0, "derived");
  EXPECT_EQ(MessageOf(ReadText(LogsFolder() / (Exe() + "Ex.log"))), "derived\n");
  const fs::path mine = config_dir_.path() / "mine.log";
  log->SetLogFile(mine.string());
  log->WriteLog(0, "fixed");
  Config("[BASE_CONFIG]\nLOG_LV=2\nLOG_PATH=Elsewhere\n");
  log->WriteLog(0, "still fixed");
  const auto lines = Lines(ReadText(mine));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "fixed");
  EXPECT_EQ(MessageOf(lines[1]), "still fixed");
  EXPECT_FALSE(fs::exists(LogsFolder("Elsewhere")));
  EXPECT_EQ(Lines(ReadText(LogsFolder() / (Exe() + "Ex.log"))).size(), 1u);
}

TEST_F(LogTest, ALogWithoutAPathWritesNothing) {
  // A folder that cannot be made, and one outside the data folder.
  for (const char* log_path : {"no/such/folder", "../escape", "../ProgramData/../escape"}) {
    Config(std::string("[BASE_CONFIG]\nLOG_LV=2\nLOG_PATH=") + log_path + "\n");
    auto log = NewLog();
    auto log_ex = NewLogEx();
    log->WriteLog(0, "lost");
    log_ex->WriteLog(0, "lost");
    EXPECT_EQ(log->LogFile(), "") << log_path;
    EXPECT_EQ(log_ex->LogFile(), "") << log_path;
    for (const auto& e : fs::recursive_directory_iterator(machine_.path()))
      EXPECT_FALSE(e.is_regular_file()) << log_path << ": " << e.path();
    EXPECT_FALSE(fs::exists(machine_.path() / "escape")) << log_path;
  }
}

TEST_F(LogTest, AFileThatCannotBeOpenedSkipsTheLine) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLogEx();
  log->SetLogFile((config_dir_.path() / "missing" / "x.log").string());
  log->WriteLog(0, "skipped");
  log->SetLogFile((config_dir_.path() / "x.log").string());
  log->WriteLog(0, "written");
  EXPECT_EQ(MessageOf(ReadText(config_dir_.path() / "x.log")), "written\n");
}

TEST_F(LogTest, ALinkPlantedBelowTheDataFolderIsNotFollowed) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  const fs::path elsewhere = config_dir_.path() / "elsewhere";
  const fs::path victim = elsewhere / "victim.txt";
  const fs::path data = machine_.path() / "ProgramData";
  // Each place a user may plant a link on the way to the file: the LOG_PATH folder, the logs
  // folder, the file itself.
  const std::function<void()> plants[] = {
      [&] { fs::create_directory_symlink(elsewhere, data / "Corvid Kestrel Driver Package"); },
      [&] {
        fs::create_directories(data / "Corvid Kestrel Driver Package");
        fs::create_directory_symlink(elsewhere, LogsFolder());
      },
      [&] {
        fs::create_directories(LogsFolder());
        fs::create_symlink(victim, LogsFolder() / (Exe() + ".log"));
      },
  };
  for (std::size_t i = 0; i < std::size(plants); ++i) {
    fs::remove_all(data);
    fs::create_directories(data);
    fs::remove_all(elsewhere);
    fs::create_directories(elsewhere);
    std::ofstream(victim) << "precious\n";
    plants[i]();
    auto log = NewLog();
    log->WriteLog(0, "must not reach the link's target");
    EXPECT_EQ(ReadText(victim), "precious\n") << "plant " << i;
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1) << "plant " << i;
  }
}

TEST_F(LogTest, WritingLeavesTheCallersLastError) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLog();
  log->WriteLog(0, "makes the folders");
  plat::SetLastError(1234);
  log->WriteLog(0, "meets existing folders");
  EXPECT_EQ(plat::GetLastError(), 1234u);
}

TEST_F(LogTest, ConcurrentWritersNeverMixLines) {
  Config("[BASE_CONFIG]\nLOG_LV=2\n");
  auto log = NewLog();
  constexpr int kThreads = 6, kLines = 150;
  const std::string filler(500, 'f');
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) log->WriteLog(0, "t%d i%d %s end", t, i, filler.c_str());
    });
  for (auto& w : writers) w.join();
  const auto lines = Lines(ReadText(LogsFolder() / (Exe() + ".log")));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const auto& line : lines) {
    const std::string message = MessageOf(line);
    ASSERT_EQ(message.substr(message.size() - filler.size() - 4), filler + " end") << line;
  }
}

}  // namespace
