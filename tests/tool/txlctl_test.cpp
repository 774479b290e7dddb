// txlctl: its pure parts table by table, then the built program beside the library and the bridge
// on a fresh simulated notebook.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"
#include "tool/txlctl_core.h"
#include "tool/txlctl_sar.h"

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
      {{"sar"}, Command::kSar, {}, false, false, ""},
      {{"--json", "sar", "tx"}, Command::kSarTx, {}, true, false, ""},
      {{"sar", "set", "--mode", "device", "--backoff", "off"}, Command::kSarSet, {}, false, false, ""},
      {{"--antenna", "4294967295", "--index", "0", "sar", "--mode", "host", "set", "--backoff", "on"}, Command::kSarSet,
       {}, false, false, ""},
      {{"sar", "tx", "set", "--notify", "on", "--hysteresis", "5"}, Command::kSarTxSet, {}, false, false, ""},
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
  // Each --antenna with the --index after it, in the order given.
  const Parsed sar = ParseArguments({"sar", "set", "--mode", "device", "--backoff", "off", "--antenna", "2", "--index",
                                     "7", "--antenna", "0", "--index", "1"});
  ASSERT_TRUE(sar.ok) << sar.error;
  EXPECT_EQ(sar.options.sar_host, false);
  EXPECT_EQ(sar.options.sar_backoff, false);
  ASSERT_EQ(sar.options.sar_states.size(), 2u);
  EXPECT_EQ(SarStatesJson(sar.options.sar_states), R"([{"antenna":2,"backoff_index":7},{"antenna":0,"backoff_index":1}])");
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
      {{"sar", "set"}, "needs --mode host|device and --backoff on|off"},
      {{"sar", "set", "--backoff", "on"}, "needs --mode"},
      {{"sar", "set", "--mode", "both", "--backoff", "on"}, "host or device, not both"},
      {{"sar", "set", "--mode", "host", "--backoff", "1"}, "on or off, not 1"},
      {{"sar", "set", "--mode"}, "--mode needs a value"},
      {{"sar", "set", "--mode", "host", "--backoff", "on", "--antenna", "1"}, "--antenna 1 has no --index"},
      {{"sar", "set", "--antenna", "1", "--antenna", "2"}, "--antenna 1 has no --index"},
      {{"sar", "set", "--index", "2"}, "without an --antenna"},
      {{"sar", "set", "--antenna", "1", "--index", "2", "--antenna", "1", "--index", "3"}, "antenna 1 is named twice"},
      {{"sar", "set", "--antenna", "-1", "--index", "2"}, "not a whole number"},
      {{"sar", "set", "--antenna", "4294967296", "--index", "2"}, "not a whole number"},
      {{"sar", "--mode", "host", "--backoff", "on"}, "apply to sar set only"},
      {{"sar", "tx", "set", "--mode", "host", "--notify", "on", "--hysteresis", "1"}, "apply to sar set only"},
      {{"sar", "tx", "set", "--notify", "on"}, "needs --notify on|off and --hysteresis S"},
      {{"sar", "tx", "set", "--notify", "on", "--hysteresis", "0"}, "from 1 to 5"},
      {{"sar", "tx", "set", "--notify", "on", "--hysteresis", "6"}, "from 1 to 5"},
      {{"sar", "tx", "--notify", "on", "--hysteresis", "2"}, "apply to sar tx set only"},
      {{"sar", "get"}, "unexpected get"},
      {{"sar", "tx", "set", "now"}, "unexpected now"},
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

// ---- MS SAR messages --------------------------------------------------------------------------------

// Little-endian 32-bit words, as the MS SAR messages are made of.
Bytes Words(std::initializer_list<std::uint32_t> words) {
  Bytes out;
  for (std::uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return out;
}

TEST(TxlctlSar, ConfigurationAnswers) {
  const struct {
    const char* name;
    Bytes answer;
    bool ok;
    const char* shown;  // mode/backoff/wifi then the states' JSON, or the reason it is refused
  } cases[] = {
      {"one state", Words({1, 1, 1, 1, 24, 8, 0, 1}), true, R"(host on no [{"antenna":0,"backoff_index":1}])"},
      {"device, off, integrated", Words({0, 0, 0, 0}), true, "device off yes []"},
      {"pairs in another order", Words({1, 1, 1, 2, 40, 8, 32, 8, 3, 9, 0, 7}), true,
       R"(host on no [{"antenna":0,"backoff_index":7},{"antenna":3,"backoff_index":9}])"},
      {"state larger than its two fields", Words({1, 0, 1, 1, 24, 12, 5, 6, 0}), true,
       R"(host off no [{"antenna":5,"backoff_index":6}])"},
      {"short head", Words({1, 1, 1}), false, "shorter than its 16-byte head"},
      {"mode 2", Words({2, 1, 1, 0}), false, "the SAR mode is 2, neither 0 nor 1"},
      {"back-off 7", Words({1, 7, 1, 0}), false, "the back-off status is 7"},
      {"Wi-Fi 3", Words({1, 1, 3, 0}), false, "the Wi-Fi integration is 3"},
      {"more pairs than bytes", Words({1, 1, 1, 0xFFFFFFFF, 24, 8}), false, "4294967295 states do not fit the 24-byte answer"},
      {"pair past the end", Words({1, 1, 1, 1, 24, 8, 0}), false, "state 0 (offset 24, size 8) lies outside the 28-byte answer"},
      {"pair into the head", Words({1, 1, 1, 1, 8, 8, 0, 1}), false, "state 0 (offset 8, size 8)"},
      {"state too small", Words({1, 1, 1, 1, 24, 4, 0, 1}), false, "state 0 (offset 24, size 4)"},
      {"offset that wraps", Words({1, 1, 1, 1, 0xFFFFFFFC, 8, 0, 1}), false, "lies outside"},
      {"two states in the same bytes (a fuzz finding)",
       [] {
         Bytes b = Words({1, 1, 1, 2, 32, 8, 32, 9, 0, 7});
         b.insert(b.end(), {0, 3});
         return b;
       }(),
       false, "states 0 and 1 share bytes"},
      {"a longer state over the next", Words({1, 1, 1, 2, 40, 8, 32, 12, 0, 7, 4, 2}), false, "states 0 and 1 share bytes"},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto config = DecodeSarConfig(c.answer, &why);
    const std::string shown = config ? std::string(config->host ? "host" : "device") + (config->backoff ? " on" : " off") +
                                           (config->wifi_integrated ? " yes " : " no ") + SarStatesJson(config->states)
                                     : why;
    EXPECT_NE(shown.find(c.shown), std::string::npos) << c.name << ": " << shown;
    EXPECT_EQ(config.has_value(), c.ok) << c.name;
  }
}

TEST(TxlctlSar, SetsAndTransmissionStatus) {
  // The set the bridge itself sends for "on": the same 28 bytes.
  EXPECT_EQ(EncodeSarConfigSet({true, true, false, {{0, 1}}}), Words({1, 1, 1, 20, 8, 0, 1}));
  EXPECT_EQ(EncodeSarConfigSet({false, false, false, {{2, 7}, {0, 1}}}), Words({0, 0, 2, 28, 8, 36, 8, 2, 7, 0, 1}));
  EXPECT_EQ(EncodeSarConfigSet({true, false, false, {}}), Words({1, 0, 0}));
  EXPECT_EQ(EncodeTransmissionSet(true, 3), Words({1, 3}));

  const struct {
    Bytes answer;
    const char* shown;
  } cases[] = {
      {Words({1, 0, 5}), "on inactive 5"},
      {Words({0, 1, 1}), "off active 1"},
      {Words({0, 1}), "shorter than its 12 bytes"},
      {Words({2, 0, 5}), "the channel notification is 2"},
      {Words({0, 9, 5}), "the transmission status is 9"},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto s = DecodeTransmissionStatus(c.answer, &why);
    const std::string shown = s ? std::string(s->notification ? "on" : "off") + (s->active ? " active " : " inactive ") +
                                      std::to_string(s->hysteresis_s)
                                : why;
    EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
  }

  // Read back: mode, status and every antenna asked for; other antennas may hold anything.
  const SarConfig held{true, true, false, {{0, 0}, {1, 3}}};
  EXPECT_TRUE(SarHeld({true, true, false, {{1, 3}}}, held));
  EXPECT_TRUE(SarHeld({true, true, false, {}}, held));
  EXPECT_FALSE(SarHeld({true, true, false, {{1, 2}}}, held));
  EXPECT_FALSE(SarHeld({true, true, false, {{2, 3}}}, held));
  EXPECT_FALSE(SarHeld({false, true, false, {}}, held));
  EXPECT_FALSE(SarHeld({true, false, false, {}}, held));
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

  TempDir dir_{true};  // the notebook and the host program's log folder
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

// The MS SAR state read from the modem through the bridge's session API, set and read back.
TEST_F(TxlctlProcessTest, SarStateRoundTrips) {
  ASSERT_EQ(Run("on 0"), 0) << Err();
  ASSERT_EQ(Run("--json sar"), 0) << Err();
  EXPECT_NE(Json().find(R"("mode":"host","backoff":true,"wifi_integrated":false,"states":[{"antenna":0,"backoff_index":0}])"),
            std::string::npos)
      << Json();
  // Read from the modem: a configuration query of the MS SAR service, its session then closed.
  const auto trace = Trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[trace.size() - 2].rfind(R"({"op":"query")", 0), 0u) << trace[trace.size() - 2];
  EXPECT_NE(trace[trace.size() - 2].find(R"("service":"{68223D04-9F6C-4E0F-822D-28441FB72340}","cid":1,)"), std::string::npos);
  EXPECT_EQ(trace.back().rfind(R"({"op":"close")", 0), 0u) << trace.back();

  ASSERT_EQ(Run("--json sar set --mode device --backoff off --antenna 2 --index 5"), 0) << Err();
  EXPECT_NE(Json().find(R"("mode":"device","backoff":false,"wifi_integrated":false,"states":[{"antenna":0,"backoff_index":0},{"antenna":2,"backoff_index":5}],"applied":true)"),
            std::string::npos)
      << Json();
  ASSERT_EQ(Run("sar"), 0) << Err();
  EXPECT_NE(ReadFile(dir_.path() / "out.txt").find("mode: device\nbackoff: off\n"), std::string::npos)
      << ReadFile(dir_.path() / "out.txt");

  ASSERT_EQ(Run("--json sar tx set --notify on --hysteresis 3"), 0) << Err();
  EXPECT_NE(Json().find(R"("notification":true,)"), std::string::npos) << Json();
  EXPECT_NE(Json().find(R"("hysteresis":3,"applied":true)"), std::string::npos) << Json();
  ASSERT_EQ(Run("--json sar tx"), 0) << Err();
  EXPECT_NE(Json().find(R"("hysteresis":3,"result")"), std::string::npos) << Json();
}

// A modem that fails the MS SAR exchange: the exit code says how, the detail names the step and
// its HRESULT.
TEST_F(TxlctlProcessTest, SarFailuresAreNamed) {
  const struct {
    const char* modem_ini;
    const char* args;
    int exit;
    const char* detail;
  } cases[] = {
      {"[faults]\nfail=ms_sar:query=0x80004005\n", "sar", 3, "the query of command 1 failed (0x80004005)"},
      {"[faults]\nfail=ms_sar:set=0x80070057\n", "sar tx set --notify on --hysteresis 2", 3,
       "the set of command 2 failed (0x80070057)"},
      {"[services]\nms_sar=0\n", "sar tx", 3, "opening the service's command session failed (0x80070490)"},
      {"[module]\ninterfaces=0\n", "sar", 2, "no modem interface"},
  };
  for (const auto& c : cases) {
    fs::create_directories(dir_.path() / "machine" / "modem");
    WriteFile(dir_.path() / "machine" / "modem" / "modem.ini", c.modem_ini);
    EXPECT_EQ(Run(std::string("--json ") + c.args), c.exit) << c.modem_ini << Err();
    EXPECT_NE(Json().find(std::string("\"detail\":\"") + c.detail + "\""), std::string::npos) << Json();
  }
}

// Whatever the command and however it ends, standard output with --json is one JSON document.
TEST_F(TxlctlProcessTest, JsonOnEveryCommandAndError) {
  const std::string out = (dir_.path() / "out.txt").string();
  const struct {
    const char* args;
    int exit;
  } cases[] = {
      {"status", 0}, {"enable", 0}, {"on 1", 0}, {"mode", 0}, {"profile", 0}, {"imei", 0}, {"table get", 0},
      {"table get --raw", 0}, {"table set 3g b5=21", 0}, {"table set 4g b8=20", kNotAppliedExit},
      {"table export", 0}, {"table diff /nonexistent.json", kUsageExit}, {"table import /nonexistent.json", kUsageExit},
      {"sar", 0}, {"sar set --mode host --backoff on --antenna 0 --index 1", 0}, {"sar tx", 0},
      {"sar tx set --notify off --hysteresis 1", 0}, {"sar set --mode host", kUsageExit},
      {"table set garbage", kUsageExit}, {"bogus", kUsageExit},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(std::string("--json ") + c.args), c.exit) << c.args << ": " << Err();
    EXPECT_EQ(std::system(("python3 -m json.tool < '" + out + "' > /dev/null 2>&1").c_str()), 0)
        << c.args << ": " << ReadFile(out);
  }
}

TEST_F(TxlctlProcessTest, RefusalSendsNothing) {
  for (const char* args : {"table set 3g b1=23.6", "table set 4g b1=20.05", "table set 3g b9=20", "enable x",
                           "table set garbage", "sar set --mode host", "sar tx set --notify on --hysteresis 9"}) {
    EXPECT_EQ(Run(args), kUsageExit) << args;
    EXPECT_NE(Err().find("nothing sent"), std::string::npos) << args << ": " << Err();
    EXPECT_TRUE(Trace().empty()) << args;
  }
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(ReadFile(dir_.path() / "out.txt").find("table set 3g|4g"), std::string::npos);
  EXPECT_TRUE(Trace().empty());
}

}  // namespace
