// txlctl: its pure parts table by table, then the built program beside the library and the bridge
// on a fresh simulated notebook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "tool/txlctl_core.h"

namespace {

using namespace txlctl;

// ---- Command line ----------------------------------------------------------------------------------

TEST(TxlctlArguments, AcceptedCommandLines) {
  const struct {
    std::vector<std::string> args;
    Command command;
    std::optional<int> value;
    bool json;
    bool raw;
    const char* table_text;
  } cases[] = {
      {{}, Command::kHelp, {}, false, false, ""},
      {{"status", "--help"}, Command::kHelp, {}, false, false, ""},
      {{"status"}, Command::kStatus, {}, false, false, ""},
      {{"--json", "status"}, Command::kStatus, {}, true, false, ""},
      {{"enable"}, Command::kEnable, {}, false, false, ""},
      {{"enable", "1"}, Command::kEnable, 1, false, false, ""},
      {{"on", "-1", "--json"}, Command::kOn, -1, true, false, ""},
      {{"mode", "0"}, Command::kMode, 0, false, false, ""},
      {{"profile", "3"}, Command::kProfile, 3, false, false, ""},
      {{"clear"}, Command::kClear, {}, false, false, ""},
      {{"imei"}, Command::kImei, {}, false, false, ""},
      {{"table", "get"}, Command::kTableGet, {}, false, false, ""},
      {{"table", "get", "--raw"}, Command::kTableGet, {}, false, true, ""},
      {{"table", "set", "1,200,\"0x1\",190,\"0x2\""}, Command::kTableSet, {}, false, false, "1,200,\"0x1\",190,\"0x2\""},
      {{"table", "set", "3g", "b1=20.0", "b5=22"}, Command::kTableSet, {}, false, false, "1,200,\"0x1\",220,\"0x10\""},
      {{"table", "set", "4G", "b66=23"}, Command::kTableSet, {}, false, false, "2,230,\"0x20000000000000000\""},
      {{"table", "set", "3g b1=20.0  b5=22"}, Command::kTableSet, {}, false, false, "1,200,\"0x1\",220,\"0x10\""},
      {{"table", "set", "2,230,\"0x20000000000000000\""}, Command::kTableSet, {}, false, false,
       "2,230,\"0x20000000000000000\""},
      {{"table", "set", "--force", "garbage"}, Command::kTableSet, {}, false, false, "garbage"},
  };
  for (const auto& c : cases) {
    const Parsed p = ParseArguments(c.args);
    const std::string where = c.args.empty() ? "(none)" : c.args[0] + " ... (" + std::to_string(c.args.size()) + ")";
    ASSERT_TRUE(p.ok) << where << ": " << p.error;
    EXPECT_EQ(p.options.command, c.command) << where;
    EXPECT_EQ(p.options.value, c.value) << where;
    EXPECT_EQ(p.options.json, c.json) << where;
    EXPECT_EQ(p.options.raw, c.raw) << where;
    EXPECT_EQ(p.options.table_text, c.table_text) << where;
  }
}

TEST(TxlctlArguments, RefusedCommandLines) {
  const struct {
    std::vector<std::string> args;
    const char* reason;  // part of the message
  } cases[] = {
      {{"bogus"}, "unknown command"},
      {{"status", "1"}, "takes no value"},
      {{"enable", "yes"}, "not a whole number"},
      {{"enable", "1.5"}, "not a whole number"},
      {{"on", "99999999999"}, "not a whole number"},
      {{"mode", "1", "2"}, "at most one value"},
      {{"table"}, "get or set"},
      {{"table", "put"}, "unknown action"},
      {{"table", "set"}, "needs a table text"},
      {{"table", "set", "1,200", "extra"}, "one argument"},
      {{"status", "--raw"}, "--raw applies"},
      {{"--loud", "status"}, "unknown option"},
      {{"table", "set", "3g"}, "at least one"},
      {{"table", "set", "3g", "b1=23.6"}, "above the 3G limit of 23.5"},
      {{"table", "set", "4g", "b1=23.1"}, "above the 4G limit of 23.0"},
      {{"table", "set", "3g", "b1=20.05"}, "at most one decimal"},
      {{"table", "set", "3g", "b1=-1"}, "at most one decimal"},
      {{"table", "set", "3g", "b1="}, "at most one decimal"},
      {{"table", "set", "3g", "b9=20"}, "band 9 is not served for 3G"},
      {{"table", "set", "4g", "b6=20"}, "band 6 is not served for 4G"},
      {{"table", "set", "3g", "b0=20"}, "band 0 is not served"},
      {{"table", "set", "3g", "b1=20", "b1=21"}, "given twice"},
      {{"table", "set", "3g", "x1=20"}, "expected bN=DBM"},
      {{"table", "set", "3g", "bx=20"}, "not a band number"},
      {{"table", "set", "3g b1=23.6"}, "above the 3G limit"},
      {{"table", "set", "garbage"}, "starts with 1 (3G) or 2 (4G)"},
      {{"table", "set", "3,200,\"0x1\""}, "starts with 1 (3G) or 2 (4G)"},
      {{"table", "set", "1"}, "pairs"},
      {{"table", "set", "1,200,\"0x1\",190"}, "pairs"},
      {{"table", "set", "1,20.5,\"0x1\""}, "whole number"},
      {{"table", "set", "1,-5,\"0x1\""}, "whole number"},
      {{"table", "set", "1,236,\"0x1\""}, "above the 3G limit"},
      {{"table", "set", "2,231,\"0x1\""}, "above the 4G limit"},
      {{"table", "set", "1,200,0x1"}, "of one band"},
      {{"table", "set", "1,200,\"0x3\""}, "of one band"},
      {{"table", "set", "1,200,\"0X1\""}, "of one band"},
      {{"table", "set", "1,200,\"0x01\""}, "of one band"},
      {{"table", "set", "1,200,\"0x\""}, "of one band"},
      {{"table", "set", "1,200,\"0x100\""}, "band 9 is not served for 3G"},
      {{"table", "set", "1,200,\"0x1\",190,\"0x1\""}, "given twice"},
      {{"status", "--force"}, "--force applies"},
      {{"table", "export", "a", "b"}, "at most one file"},
      {{"table", "import"}, "needs one file"},
      {{"table", "diff", "a", "b"}, "needs one file"},
      {{"table", "export", "--profile"}, "needs a profile number"},
      {{"table", "export", "--profile", "x"}, "not a profile number"},
      {{"status", "--profile", "1"}, "--profile applies"},
  };
  for (const auto& c : cases) {
    const Parsed p = ParseArguments(c.args);
    const std::string where = c.args[0] + (c.args.size() > 1 ? " " + c.args.back() : "");
    EXPECT_FALSE(p.ok) << where;
    EXPECT_NE(p.error.find(c.reason), std::string::npos) << where << ": " << p.error;
  }
}

// ---- Friendly table form ---------------------------------------------------------------------------

TEST(TxlctlFriendly, BandsOfTheLibraryTables) {
  const struct {
    int technology;
    int band;
    bool accepted;
  } cases[] = {
      {1, 1, true},   {1, 2, true},  {1, 4, true},  {1, 5, true},  {1, 8, true},   {1, 9, false},
      {2, 3, true},   {2, 66, true}, {2, 41, true}, {2, 6, false}, {2, 9, false},  {2, 0, false},
      {3, 1, false},  {1, 129, false},
  };
  for (const auto& c : cases) EXPECT_EQ(BandAccepted(c.technology, c.band), c.accepted) << c.technology << "/" << c.band;
}

TEST(TxlctlFriendly, MasksAndTenths) {
  EXPECT_EQ(BandMask(1), "1");
  EXPECT_EQ(BandMask(4), "8");
  EXPECT_EQ(BandMask(5), "10");
  EXPECT_EQ(BandMask(25), "1000000");
  EXPECT_EQ(BandMask(66), "20000000000000000");
  const struct {
    const char* text;
    std::optional<int> tenths;
  } cases[] = {{"23.5", 235}, {"23", 230}, {"0.1", 1}, {"0", 0}, {"23.", {}}, {".5", {}},
               {"23.55", {}}, {"-1", {}}, {"2a", {}}, {"", {}}, {"1e1", {}}};
  for (const auto& c : cases) EXPECT_EQ(ParseTenths(c.text), c.tenths) << c.text;
  EXPECT_EQ(FormatTenths(235), "23.5");
  EXPECT_EQ(FormatTenths(200), "20.0");
  EXPECT_EQ(FormatTenths(-5), "-0.5");
}

TEST(TxlctlFriendly, LimitsAreInclusive) {
  EXPECT_TRUE(BuildTableText("3g", {"b1=23.5"}).ok);
  EXPECT_TRUE(BuildTableText("4g", {"b1=23.0"}).ok);
  EXPECT_FALSE(BuildTableText("3g", {"b1=23.6"}).ok);
  EXPECT_FALSE(BuildTableText("4g", {"b1=23.1"}).ok);
  EXPECT_FALSE(BuildTableText("5g", {"b1=20"}).ok);
}

// ---- Read-back -------------------------------------------------------------------------------------

TEST(TxlctlReadBack, LinesToRows) {
  const std::string text =
      "+BODYSAR:\r\n1,235,\"0x1\"\r\n1,200,\"0x12\"\r\n2,190,\"0x20000000000000000\"\r\n"
      "3,100,\"0x4\"\r\nnot,a,line\r\n2,150,\"0xZZ\"\r\nOK\r\n";
  const std::vector<Row> rows = ParseReadBack(text);
  const std::vector<Row> expected = {{1, 1, 235}, {1, 2, 200}, {1, 5, 200}, {2, 66, 190}, {3, 3, 100}};
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].technology, expected[i].technology) << i;
    EXPECT_EQ(rows[i].band, expected[i].band) << i;
    EXPECT_EQ(rows[i].tenths, expected[i].tenths) << i;
  }
  EXPECT_TRUE(ParseReadBack("+BODYSAR:\r\nOK\r\n").empty());
  EXPECT_TRUE(ParseReadBack("").empty());
}

TEST(TxlctlReadBack, TextAndJson) {
  const std::vector<Row> rows = {{1, 5, 225}, {2, 66, 190}};
  const std::string text = FormatRows(rows);
  EXPECT_NE(text.find("3G"), std::string::npos);
  EXPECT_NE(text.find("22.5"), std::string::npos);
  EXPECT_NE(text.find("66"), std::string::npos);
  EXPECT_EQ(RowsJson(rows),
            R"([{"technology":"3G","band":5,"dbm":22.5},{"technology":"4G","band":66,"dbm":19.0}])");
  EXPECT_EQ(RowsJson({}), "[]");
}

// ---- Table files -----------------------------------------------------------------------------------

TEST(TxlctlTableFile, EntriesAreCheckedWhole) {
  const struct {
    const char* json;
    const char* error;  // part of the message; empty: accepted
  } cases[] = {
      {R"({"profile":1,"table":[{"technology":"3G","band":5,"dbm":21.5},{"technology":"4g","band":66,"dbm":19}]})", ""},
      {R"( [ {"dbm":20.0, "band":1, "technology":"3G", "note":"kept"} ] )", ""},
      {R"({"table":[]})", "no entry"},
      {R"({"rows":[]})", "\"table\" array"},
      {R"({"table":[{"technology":"5G","band":1,"dbm":20}]})", "3G or 4G"},
      {R"({"table":[{"technology":"3G","band":9,"dbm":20}]})", "band 9 is not served for 3G"},
      {R"({"table":[{"technology":"3G","band":"1","dbm":20}]})", "expected {"},
      {R"({"table":[{"technology":"3G","band":1,"dbm":20.05}]})", "at most one decimal"},
      {R"({"table":[{"technology":"3G","band":1,"dbm":-1}]})", "at most one decimal"},
      {R"({"table":[{"technology":"4G","band":1,"dbm":23.1}]})", "above the 4G limit"},
      {R"({"table":[{"technology":"3G","band":1,"dbm":20},{"technology":"3G","band":1,"dbm":21}]})", "entry 2: 3G band 1 given twice"},
      {R"({"table":[{"technology":"3G","band":1,"dbm":20}]} trailing)", "text after"},
      {R"({"table":[{"technology":"3G","band":1,"dbm":20})", "expected , or ]"},
      {R"({"table":[{"technology":"3G\u0047","band":1,"dbm":20}]})", "escape"},
      {"", "ends early"},
  };
  for (const auto& c : cases) {
    const FileRows f = ParseTableFile(c.json);
    EXPECT_EQ(f.ok, c.error[0] == '\0') << c.json << ": " << f.error;
    if (c.error[0]) {
      EXPECT_NE(f.error.find(c.error), std::string::npos) << c.json << ": " << f.error;
    }
  }
  const FileRows f = ParseTableFile(cases[0].json);
  ASSERT_EQ(f.rows.size(), 2u);
  EXPECT_EQ(TableTexts(f.rows), (std::vector<std::string>{"1,215,\"0x10\"", "2,190,\"0x20000000000000000\""}));
  int changes = 0;
  EXPECT_EQ(DiffRows(f.rows, {Row{1, 5, 215}, Row{2, 66, 200}}, &changes), "4G band 66: 20.0 -> 19.0 dBm\n");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(DiffRows(f.rows, {}, &changes), "3G band 5: (not in the table) -> 21.5 dBm\n4G band 66: (not in the table) -> 19.0 dBm\n");
  EXPECT_EQ(changes, 2);
}

// ---- Codes and JSON --------------------------------------------------------------------------------

TEST(TxlctlCodes, Messages) {
  const struct {
    int code;
    const char* message;
  } cases[] = {{0, "success (0)"},
               {1, "channel object missing (1)"},
               {2, "entry point or channel not available (2)"},
               {3, "command failed (3)"},
               {4, "empty or negative reply (4)"},
               {5, "module type not served by this operation (5)"},
               {-7, "unknown result (-7)"}};
  for (const auto& c : cases) EXPECT_EQ(CodeMessage(c.code), c.message);
  EXPECT_EQ(JsonError(5), R"x({"code":5,"message":"module type not served by this operation (5)"})x");
  EXPECT_EQ(JsonString("a\"b\\c\r\n\x01"), R"("a\"b\\c\r\n\u0001")");
}

// ---- The built program ------------------------------------------------------------------------------

using namespace txltest;

class TxlctlProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = dir_.path() / "host";
    fs::create_directories(host_);
    fs::copy_file(TXLCTL, host_ / "txlctl");
    fs::copy_file(KRILL_LIBRARY, host_ / fs::path(KRILL_LIBRARY).filename());
    fs::copy_file(fs::path(TXL_BIN_DIR) / "VexelSarDll.so", host_ / "VexelSarDll.so");
  }

  // Runs txlctl; returns its exit code. The library writes its own diagnostics to the console, so
  // the JSON answer is the line starting with '{'.
  int Run(const std::string& args) {
    const std::string cmd = "cd / && env TXL_MACHINE_DIR='" + (dir_.path() / "machine").string() +
                            "' TXL_SIM_TRACE=1 TXL_TIME_SCALE=0.02 '" + (host_ / "txlctl").string() + "' " + args +
                            " > '" + (dir_.path() / "out.txt").string() + "' 2> '" + (dir_.path() / "err.txt").string() + "'";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Json() const {
    for (const auto& line : Lines(ReadFile(dir_.path() / "out.txt")))
      if (!line.empty() && line[0] == '{') return line;
    return {};
  }
  std::string Err() const { return ReadFile(dir_.path() / "err.txt"); }
  std::vector<std::string> Trace() const { return Lines(ReadFile(dir_.path() / "machine" / "modem" / "trace.jsonl")); }

  TempDir dir_;
  fs::path host_;
};

TEST_F(TxlctlProcessTest, StatusOnTheDefaultNotebook) {
  ASSERT_EQ(Run("--json status"), 0) << Err();
  const std::string json = Json();
  EXPECT_NE(json.find(R"("ready":true)"), std::string::npos) << json;
  // Ready first, then every reading in order.
  std::size_t at = 0;
  for (const char* key : {"\"ready\"", "\"imei\":\"", "\"enable\":", "\"on\":", "\"mode\":", "\"profile\":",
                          "\"table\":[{\"technology\""}) {
    const std::size_t found = json.find(key, at);
    ASSERT_NE(found, std::string::npos) << key << " in " << json;
    at = found;
  }
  EXPECT_NE(json.find(R"("result":{"code":0)"), std::string::npos) << json;
  EXPECT_FALSE(Trace().empty());
  // The object is the whole of standard output: the bridge's console lines are kept off it.
  const std::string out = (dir_.path() / "out.txt").string();
  EXPECT_EQ(std::system(("python3 -m json.tool < '" + out + "' > /dev/null").c_str()), 0) << ReadFile(out);

  // Quiet by default; the bridge's lines only with --verbose, and then on standard error.
  ASSERT_EQ(Run("status"), 0) << Err();
  EXPECT_LE(Lines(ReadFile(out)).size(), 40u) << ReadFile(out);
  EXPECT_EQ(ReadFile(out).find("QueryCommand"), std::string::npos) << ReadFile(out);
  ASSERT_EQ(Run("-v status"), 0) << Err();
  EXPECT_NE(Err().find("QueryCommand"), std::string::npos) << Err();
  EXPECT_EQ(ReadFile(out).find("QueryCommand"), std::string::npos);
  EXPECT_NE(ReadFile(out).find("ready: yes"), std::string::npos) << ReadFile(out);
}

TEST_F(TxlctlProcessTest, FriendlySetThenTableGetShowsTheValue) {
  ASSERT_EQ(Run("--json table set '3g b5=21.5'"), 0) << Err();
  EXPECT_NE(Json().find(R"("applied":[{"technology":"3G","band":5,"dbm":21.5,"applied":true}])"), std::string::npos)
      << Json();
  ASSERT_EQ(Run("--json table get"), 0) << Err();
  EXPECT_NE(Json().find(R"({"technology":"3G","band":5,"dbm":21.5})"), std::string::npos) << Json();
  ASSERT_EQ(Run("table get --raw --json"), 0) << Err();
  EXPECT_NE(Json().find(R"(1,215,\"0x10\")"), std::string::npos) << Json();
  // The Osprey profile has no override element for 4G band 8: the modem keeps its table as it was,
  // and the set is reported as not applied.
  EXPECT_EQ(Run("--json table set 4g b8=20"), txlctl::kNotAppliedExit) << Err();
  EXPECT_NE(Json().find(R"({"technology":"4G","band":8,"dbm":20.0,"applied":false})"), std::string::npos) << Json();
}

TEST_F(TxlctlProcessTest, TablesToAFileAndBack) {
  const std::string file = (dir_.path() / "tables.json").string();
  ASSERT_EQ(Run("table export '" + file + "'"), 0) << Err();
  const std::string exported = ReadFile(file);
  ASSERT_TRUE(ParseTableFile(exported).ok) << exported;
  // Another profile's tables, the active profile put back.
  ASSERT_EQ(Run("table export --profile 0"), 0) << Err();
  EXPECT_EQ(ReadFile(dir_.path() / "out.txt").rfind("{\"profile\":0,\"table\":[", 0), 0u) << ReadFile(dir_.path() / "out.txt");
  ASSERT_EQ(Run("--json profile"), 0) << Err();
  EXPECT_NE(Json().find(R"("profile":1)"), std::string::npos) << Json();

  ASSERT_EQ(Run("table set 3g b5=21.5"), 0) << Err();
  ASSERT_EQ(Run("--json table diff '" + file + "'"), 0) << Err();
  EXPECT_NE(Json().find(R"("changes":1)"), std::string::npos) << Json();
  ASSERT_EQ(Run("--json table import '" + file + "'"), 0) << Err();
  EXPECT_EQ(Json().find(R"("applied":false)"), std::string::npos) << Json();
  ASSERT_EQ(Run("table export '" + file + ".again'"), 0) << Err();
  EXPECT_EQ(ReadFile(file + ".again"), exported);

  // A bad entry refuses the whole file before the modem is asked anything.
  const std::string bad = (dir_.path() / "bad.json").string();
  WriteFile(bad, R"({"table":[{"technology":"3G","band":5,"dbm":20},{"technology":"3G","band":9,"dbm":20}]})");
  fs::remove(dir_.path() / "machine" / "modem" / "trace.jsonl");
  EXPECT_EQ(Run("table import '" + bad + "'"), kUsageExit);
  EXPECT_NE(ReadFile(dir_.path() / "out.txt").find("entry 2: band 9"), std::string::npos) << ReadFile(dir_.path() / "out.txt");
  EXPECT_TRUE(Trace().empty());
}

TEST_F(TxlctlProcessTest, ValueSetAndReadBack) {
  ASSERT_EQ(Run("--json mode 1"), 0) << Err();
  EXPECT_NE(Json().find(R"("mode":1)"), std::string::npos) << Json();
  ASSERT_EQ(Run("--json mode"), 0) << Err();
  EXPECT_NE(Json().find(R"("mode":1)"), std::string::npos) << Json();
}

TEST_F(TxlctlProcessTest, RefusalSendsNothing) {
  for (const char* args :
       {"table set 3g b1=23.6", "table set 4g b1=20.05", "table set 3g b9=20", "enable x", "table set garbage"}) {
    EXPECT_EQ(Run(args), kUsageExit) << args;
    EXPECT_NE(Err().find("nothing sent"), std::string::npos) << args << ": " << Err();
    EXPECT_TRUE(Trace().empty()) << args;
  }
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(ReadFile(dir_.path() / "out.txt").find("table set 3g|4g"), std::string::npos);
  EXPECT_TRUE(Trace().empty());
}

}  // namespace
