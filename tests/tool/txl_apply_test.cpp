// The tool's logic against recorders in place of the exports: call order, arguments, results,
// buffers and waits, with answers the simulated modem cannot be made to give.
#include "tool/txl_apply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "api/exports.h"
#include "platform/process.h"

namespace {

using txlapply::kSet0Rows;
using txlapply::kSet1CheckRows;
using txlapply::kSet1WriteRows;
using txlapply::kSet2CheckRows;
using txlapply::kSet2WriteRows;
using Clock = std::chrono::steady_clock;

// What the recorders answer, and what they saw.
struct Krill {
  int ready_result = 0;
  bool mode_written = true;  // false: get_BodySarMode fails and leaves its out value alone
  int mode = 1;
  std::string read_back;
  std::deque<int> value_results;  // one per set_BodySarValue, then 0
  std::vector<std::string> calls;
  std::vector<Clock::time_point> times;

  void Saw(std::string call) {
    calls.push_back(std::move(call));
    times.push_back(Clock::now());
  }
};
Krill* g_krill = nullptr;

const txlapply::KrillCalls kRecorders = {
    [](unsigned int* ready) {
      *ready = 1;
      g_krill->Saw("get_IsMBIMReady");
      return g_krill->ready_result;
    },
    [](int v) { g_krill->Saw("set_BodySarEnable(" + std::to_string(v) + ")"); return 0; },
    [](int v) { g_krill->Saw("set_BodySarON(" + std::to_string(v) + ")"); return 0; },
    [](int v) { g_krill->Saw("set_BodySarMode(" + std::to_string(v) + ")"); return 0; },
    [](int* v) {
      g_krill->Saw("get_BodySarMode");
      if (!g_krill->mode_written) return 3;
      *v = g_krill->mode;
      return 0;
    },
    [](int v) { g_krill->Saw("set_BodySarProfile(" + std::to_string(v) + ")"); return 0; },
    [] { g_krill->Saw("set_BodySarClear"); return 0; },
    [](char* text) {
      g_krill->Saw("set_BodySarValue(" + std::string(text) + ")");
      if (g_krill->value_results.empty()) return 0;
      const int r = g_krill->value_results.front();
      g_krill->value_results.pop_front();
      return r;
    },
    [](char* text) {
      g_krill->Saw("get_BodySarValue");
      // The whole room the export documents, so that a smaller buffer shows under the sanitizer.
      std::memset(text, 'x', kBodySarValueTextBytes - 1);
      std::memcpy(text, g_krill->read_back.data(), std::min(g_krill->read_back.size(), kBodySarValueTextBytes - 1));
      text[kBodySarValueTextBytes - 1] = '\0';
      return 0;
    },
};

std::string AllRows(std::span<const std::string_view> rows) {
  std::string text = "+BODYSAR:\r\n";
  for (auto row : rows) text += std::string(row) + "\r\n";
  return text + "OK\r\n";
}

std::vector<std::string> ValueCalls(std::span<const std::string_view> rows) {
  std::vector<std::string> calls;
  for (auto row : rows) calls.push_back("set_BodySarValue(" + std::string(row) + ")");
  return calls;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ToolLogicTest : public ::testing::Test {
 protected:
  // 120 000 ms become 240 ms, 1000 ms become 2 ms.
  static constexpr double kScale = 0.002;

  void SetUp() override {
    g_krill = &krill_;
    plat::SetEnv("TXL_TIME_SCALE", "0.002");
  }
  void TearDown() override { g_krill = nullptr; }

  int Run(char16_t first) {
    krill_.calls.clear();
    krill_.times.clear();
    return txlapply::Run(first, kRecorders);
  }

  long long MsBetween(const std::string& from, const std::string& to) const {
    std::size_t a = 0, b = 0;
    for (std::size_t i = 0; i < krill_.calls.size(); ++i) {
      if (krill_.calls[i] == from && a == 0) a = i + 1;
      if (krill_.calls[i] == to && b == 0) b = i + 1;
    }
    EXPECT_TRUE(a && b) << from << " / " << to;
    if (!a || !b) return -1;
    return std::chrono::duration_cast<std::chrono::milliseconds>(krill_.times[b - 1] - krill_.times[a - 1]).count();
  }

  Krill krill_;
};

// ---- Arguments by their first character --------------------------------------------------------

TEST_F(ToolLogicTest, FirstCharacterChoosesTheCallsOrNone) {
  const std::vector<std::string> set0 =
      Concat({"get_IsMBIMReady", "set_BodySarEnable(1)", "set_BodySarON(1)"}, ValueCalls(kSet0Rows));
  const struct {
    char16_t first;
    std::vector<std::string> calls;
  } cases[] = {
      {u'\0', {}},
      {u'5', {}},
      {u'x', {}},
      {u'-', {}},
      {u' ', {}},
      {u'\xFF11', {}},  // a full-width one is no "1"
      {u'0', set0},
      {u'3', {"get_IsMBIMReady", "set_BodySarON(1)"}},
      {u'4', {"get_IsMBIMReady", "set_BodySarON(0)"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.first), 0) << static_cast<int>(c.first);
    EXPECT_EQ(krill_.calls, c.calls) << static_cast<int>(c.first);
  }
}

TEST_F(ToolLogicTest, SetZeroSendsRowsFourToSixWithoutTheBlankAndExitsWithTheLastResult) {
  EXPECT_EQ(kSet0Rows[3], R"(2,230,"0x1")");
  EXPECT_EQ(kSet0Rows[4], R"(2,230,"0x4")");
  EXPECT_EQ(kSet0Rows[5], R"(2,230,"0x10")");
  krill_.value_results = {4, 4, 4, 4, 4, 4, 4, 4, 4, 0};
  EXPECT_EQ(Run(u'0'), 0);
  krill_.value_results = {0, 0, 0, 0, 0, 0, 0, 0, 0, 3};
  EXPECT_EQ(Run(u'0'), 3);
  EXPECT_EQ(krill_.calls.size(), 13u) << "a failing row does not stop the others";
}

TEST_F(ToolLogicTest, BackOffSwitchExitsWithItsResultWhateverReadinessSays) {
  krill_.ready_result = 2;
  EXPECT_EQ(Run(u'3'), 0);
  EXPECT_EQ(krill_.calls, (std::vector<std::string>{"get_IsMBIMReady", "set_BodySarON(1)"}));
}

// ---- Sets 1 and 2 ------------------------------------------------------------------------------

struct CheckedCase {
  char16_t first;
  std::span<const std::string_view> check_rows;
  std::span<const std::string_view> write_rows;
};
const CheckedCase kCheckedSets[] = {{u'1', kSet1CheckRows, kSet1WriteRows}, {u'2', kSet2CheckRows, kSet2WriteRows}};

TEST_F(ToolLogicTest, EveryCheckRowInPlaceWritesNothingAndDoesNotWait) {
  for (const auto& set : kCheckedSets) {
    krill_.read_back = AllRows(set.check_rows);
    const auto start = Clock::now();
    EXPECT_EQ(Run(set.first), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(krill_.calls, (std::vector<std::string>{"get_IsMBIMReady", "set_BodySarEnable(1)", "get_BodySarMode",
                                                      "get_BodySarValue"}));
  }
}

TEST_F(ToolLogicTest, OneMissingRowRunsTheWholeSequenceWithBothWaits) {
  for (const auto& set : kCheckedSets) {
    std::vector<std::string_view> rows(set.check_rows.begin(), set.check_rows.end());
    rows.erase(rows.begin() + 5);
    krill_.read_back = AllRows(rows);
    krill_.mode = 0;
    EXPECT_EQ(Run(set.first), 0);
    const std::vector<std::string> expected =
        Concat({"get_IsMBIMReady", "set_BodySarEnable(1)", "get_BodySarMode", "set_BodySarMode(1)", "get_BodySarValue",
                "set_BodySarClear", "get_BodySarMode", "set_BodySarMode(1)", "set_BodySarProfile(1)"},
               ValueCalls(set.write_rows));
    EXPECT_EQ(krill_.calls, expected);
    EXPECT_GE(MsBetween("get_BodySarValue", "set_BodySarClear"), 240);
    EXPECT_GE(MsBetween("set_BodySarProfile(1)", expected[9]), 2);
  }
}

TEST_F(ToolLogicTest, EachCheckRowAloneIsLookedFor) {
  plat::SetEnv("TXL_TIME_SCALE", "0.00001");
  for (const auto& set : kCheckedSets) {
    for (std::size_t missing = 0; missing < set.check_rows.size(); ++missing) {
      std::vector<std::string_view> rows(set.check_rows.begin(), set.check_rows.end());
      rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(missing));
      krill_.read_back = AllRows(rows);
      Run(set.first);
      EXPECT_EQ(krill_.calls.size(), 7u + set.write_rows.size()) << set.check_rows[missing];
    }
  }
}

TEST_F(ToolLogicTest, WriteRowsExitWithTheLastResultOnly) {
  const struct {
    std::deque<int> results;
    int exit_code;
  } cases[] = {{{3, 3, 3, 0}, 0}, {{0, 0, 0, 4}, 4}, {{4, 0, 0, 3}, 3}};
  for (const auto& c : cases) {
    krill_.read_back.clear();
    krill_.value_results = c.results;
    EXPECT_EQ(Run(u'2'), c.exit_code);
    EXPECT_EQ(krill_.calls.size(), 11u);
  }
}

TEST_F(ToolLogicTest, ReadinessFailureEndsTheRunWithItsResult) {
  krill_.ready_result = 5;
  EXPECT_EQ(Run(u'1'), 5);
  EXPECT_EQ(krill_.calls, (std::vector<std::string>{"get_IsMBIMReady"}));
}

TEST_F(ToolLogicTest, ModeIsSetOnlyWhenItWasReadAsZero) {
  const struct {
    bool written;
    int mode;
    bool set_expected;
  } cases[] = {{true, 0, true}, {true, 1, false}, {true, 2, false}, {false, 0, false}};
  for (const auto& c : cases) {
    krill_.read_back = AllRows(kSet1CheckRows);
    krill_.mode_written = c.written;
    krill_.mode = c.mode;
    Run(u'1');
    EXPECT_EQ(std::count(krill_.calls.begin(), krill_.calls.end(), "set_BodySarMode(1)"), c.set_expected ? 1 : 0)
        << c.written << " " << c.mode;
  }
}

TEST_F(ToolLogicTest, RowsFoundBeyondTheFirstKilobyteOfAFullReadBack) {
  krill_.read_back = std::string(3000, ' ') + AllRows(kSet2CheckRows);
  EXPECT_EQ(Run(u'2'), 0);
  EXPECT_EQ(krill_.calls.back(), "get_BodySarValue");
}

// ---- Looking for check rows --------------------------------------------------------------------

TEST(MissingRows, ExactCaseSensitiveSubstrings) {
  const std::string_view rows[] = {R"(2,220,"0x800")", R"(1,200,"0x1")"};
  const struct {
    std::string_view text;
    std::size_t missing;
  } cases[] = {
      {"", 2},
      {"2,220,\"0x800\"\r\n1,200,\"0x1\"\r\n", 0},
      {"1,200,\"0x1\"", 1},
      {"2,220,\"0X800\"\r\n1,200,\"0x1\"", 1},    // upper-case X is another text
      {"2,220, \"0x800\"\r\n1,200,\"0x1\"", 1},   // a blank is another text
      {"2,220,\"0x8000\"\r\n1,200,\"0x10\"", 2},  // the closing quote keeps a longer mask apart
  };
  for (const auto& c : cases) EXPECT_EQ(txlapply::MissingRows(c.text, rows), c.missing) << c.text;
}

TEST(RowSets, WriteRowsCarryExactlyTheCheckRowsPairsInOrder) {
  for (const auto& set : kCheckedSets) {
    std::vector<std::string> from_checks, from_writes;
    for (auto row : set.check_rows) from_checks.emplace_back(row);
    for (auto row : set.write_rows) {
      const char tech = row[0];
      std::size_t at = 2;
      while (at < row.size()) {
        const auto comma = row.find(',', at);
        const auto end = row.find('"', row.find('"', comma) + 1);
        from_writes.push_back(std::string(1, tech) + "," + std::string(row.substr(at, end + 1 - at)));
        at = end + 2;
      }
    }
    EXPECT_EQ(from_writes, from_checks);
  }
}

}  // namespace
