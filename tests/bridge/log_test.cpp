// The bridge log in this process: routing by level, the line prefix, and the folder pruning.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

using namespace txltest;

class LevelScope {
 public:
  explicit LevelScope(int level) { vexel::DebugLevel = level; }
  ~LevelScope() { vexel::DebugLevel = 2; }
};

std::string Logged(int level, const char* text) {
  LevelScope scope(level);
  testing::internal::CaptureStdout();
  vexel::LogLine("%s %ls %d\n", text, u"w\u00e9de", 42);
  return testing::internal::GetCapturedStdout();
}

TEST(BridgeLog, ConsoleLinesCarryTheDatedPrefix) {
  const std::string out = Logged(1, "hello");
  const std::regex line(R"(\d{4}-\d{1,2}-\d{1,2}\t\d{2}:\d{2}:\d{2}\.\d{3}\thello w\xC3\xA9de 42\n)");
  EXPECT_TRUE(std::regex_match(out, line)) << out;
}

TEST(BridgeLog, LevelDecidesWhatReachesTheConsole) {
  EXPECT_EQ(Logged(0, "x"), "");
  EXPECT_NE(Logged(1, "x").find("x w"), std::string::npos);
  EXPECT_NE(Logged(2, "x").find("x w"), std::string::npos);
  EXPECT_EQ(Logged(3, "x"), "");  // file only, and no file is open here
  const std::string wrong = Logged(7, "x");
  EXPECT_NE(wrong.find("\tWrong WDS debug level\n"), std::string::npos);
  EXPECT_EQ(wrong.find("x w"), std::string::npos);
}

TEST(BridgeLog, DirectConsoleLinesIgnoreTheLevel) {
  LevelScope scope(3);
  testing::internal::CaptureStdout();
  const std::uint8_t bytes[] = {0x00, 0x1F, 0xA0};
  vexel::ConsoleHexDump("caption: ", bytes, sizeof bytes);
  vexel::ConsoleHexDump("empty: ", bytes, 0);
  vexel::ConsolePrintf("mbim_gpio_low_active: %d\n", 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "caption: 00 1F A0 \nempty: \nmbim_gpio_low_active: 1\n");
}

TEST(BridgeLog, WritingWithoutAnOpenFileLosesTheLine) { EXPECT_EQ(vexel::WriteLogFile("%s\n", "lost"), -1); }

// Pruning: N dated files (and other entries) before a load; which remain after it.
struct PruneCase {
  const char* name;
  std::vector<std::string> files;     // regular files present
  std::vector<std::string> folders;   // sub-folders present
  std::vector<std::string> expected;  // regular files afterwards
};

void PrintTo(const PruneCase& c, std::ostream* os) { *os << c.name; }

class PruneTest : public ::testing::TestWithParam<PruneCase> {};

TEST_P(PruneTest, DeletesAtMostTheFirstDatedFile) {
  const PruneCase& c = GetParam();
  TempDir dir;
  for (const auto& f : c.files) WriteFile(dir.path() / f, f);
  for (const auto& d : c.folders) fs::create_directories(dir.path() / d);
  std::u16string folder = plat::Utf8ToUtf16(dir.path().string() + "/");
  char16_t buffer[vexel::kLogPathChars] = {};
  std::copy(folder.begin(), folder.end(), buffer);
  LevelScope scope(1);
  testing::internal::CaptureStdout();
  vexel::ControlDllLogNumber(buffer, vexel::kLogFileLimit);
  const std::string out = testing::internal::GetCapturedStdout();
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.is_regular_file()) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected = c.expected;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  for (const auto& d : c.folders) EXPECT_TRUE(fs::is_directory(dir.path() / d));
  const bool removed = left.size() < c.files.size();
  EXPECT_EQ(out.find("remove: ") != std::string::npos, removed) << out;
}

const std::vector<std::string> kFive = {"2025-01-31_14_05_09.txt", "2025-02-01_08_00_00.txt", "2025-02-01_09_00_00.txt",
                                        "2026-01-01_00_00_00.txt", "2026-12-31_23_59_59.txt"};

INSTANTIATE_TEST_SUITE_P(
    BridgeLog, PruneTest,
    ::testing::Values(
        PruneCase{"Empty", {}, {}, {}},
        PruneCase{"TwoDatedKept", {kFive[0], kFive[1]}, {}, {kFive[0], kFive[1]}},
        PruneCase{"ThreeDatedOldestGoes", {kFive[1], kFive[0], kFive[2]}, {}, {kFive[1], kFive[2]}},
        PruneCase{"FiveDatedOldestGoes", kFive, {}, {kFive[1], kFive[2], kFive[3], kFive[4]}},
        PruneCase{"UndatedNeitherCountedNorDeleted",
                  {"1999-notes.txt", "README", kFive[3], kFive[4]},
                  {},
                  {"1999-notes.txt", "README", kFive[3], kFive[4]}},
        PruneCase{"UndatedNamesSortFirstButSurvive",
                  {"0-early.txt", kFive[0], kFive[1], kFive[2]},
                  {},
                  {"0-early.txt", kFive[1], kFive[2]}},
        PruneCase{"DatedFoldersAreNotFiles",
                  {kFive[2], kFive[3]},
                  {"2000-archive", "2001-archive"},
                  {kFive[2], kFive[3]}}),
    [](const ::testing::TestParamInfo<PruneCase>& p) { return std::string(p.param.name); });

TEST(BridgeLog, PruningAMissingFolderReportsIt) {
  TempDir dir;
  std::u16string folder = plat::Utf8ToUtf16((dir.path() / "absent").string() + "/");
  char16_t buffer[vexel::kLogPathChars] = {};
  std::copy(folder.begin(), folder.end(), buffer);
  LevelScope scope(1);
  testing::internal::CaptureStdout();
  vexel::ControlDllLogNumber(buffer, vexel::kLogFileLimit);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("\tControlDllLogNumber --, not found files\n"),
            std::string::npos);
}

TEST(BridgeLog, ANameThatDoesNotFitTheBufferIsNotDeleted) {
  TempDir dir;
  std::string base = dir.path().string() + "/";
  const std::string name = "2" + std::string(vexel::kLogPathChars - base.size(), '0');  // one too long, sorts first
  const std::vector<std::string> dated = {name, "2a", "2b", "2c"};
  for (const auto& f : dated) WriteFile(dir.path() / f, "x");
  std::u16string folder = plat::Utf8ToUtf16(base);
  char16_t buffer[vexel::kLogPathChars] = {};
  std::copy(folder.begin(), folder.end(), buffer);
  LevelScope scope(1);
  testing::internal::CaptureStdout();
  vexel::ControlDllLogNumber(buffer, vexel::kLogFileLimit);
  testing::internal::GetCapturedStdout();
  for (const auto& f : dated) EXPECT_TRUE(fs::exists(dir.path() / f)) << f;
  EXPECT_EQ(buffer[vexel::kLogPathChars - 1], u'\0');
}

}  // namespace
