// The modem's AT firmware: exact reply bytes, body-SAR tables set as AT text and read back, the
// bytes each family's SAR parameter item gets, the factory's at@nvm assignments, and replies
// configured in modem.ini.
#include <cstdint>
#include <string>
#include <vector>

#include "services_test_support.h"
#include "sim/nvm_store.h"
#include "sim/services/at_firmware.h"
#include "sim/services/nvm_service.h"
#include "sim/services/sar_param_item.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::ModemFamily;

constexpr std::uint32_t kSarItem = 0x103d0000u;
const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

std::uint16_t U16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// An answer with lines, as the modem frames it.
std::string Answer(const std::vector<std::string>& lines) {
  std::string out = "\r\n";
  for (const std::string& l : lines) out += l + "\r\n";
  return out + kOk;
}

const char* Name(ModemFamily f) {
  return f == ModemFamily::kOsprey ? "osprey" : f == ModemFamily::kKestrel ? "kestrel" : "other";
}

class AtFirmwareTest : public SimTest {
 protected:
  std::string Run(ModemFamily family, std::string_view command) {
    return sim::services::AtFirmware(dir(), sim::DefaultModemConfig(family)).Execute(command);
  }
  Bytes Item(ModemFamily family) { return sim::NvmStore(dir(), family).ReadItem(kSarItem).value(); }
  static Bytes Factory(ModemFamily family) { return sim::services::FactorySarParamItem(family); }
  // The families share the notebook's item file: a loop over them starts each on a new modem.
  void NewModem(ModemFamily family) {
    std::filesystem::remove_all(dir() / "modem");
    ASSERT_EQ(Factory(family), Item(family));
  }
};

// ---- Exact replies -------------------------------------------------------------------------------

struct ReplyCase {
  const char* name;
  ModemFamily family;
  const char* command;
  std::string reply;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class AtReplyTest : public AtFirmwareTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(AtReplyTest, RepliesExactly) { EXPECT_EQ(GetParam().reply, Run(GetParam().family, GetParam().command)); }

// osprey profile 1 (the active one from the factory): 3G 20.5/20.0/19.5/20.0 dBm, 4G 20.0 down to
// 18.5 dBm, port A of each element.
const std::string kOspreyFactoryTable =
    "\r\n+BODYSAR:\r\n"
    "1,205,\"0x1\"\r\n1,200,\"0x2\"\r\n1,195,\"0x8\"\r\n1,200,\"0x10\"\r\n"
    "2,200,\"0x1\"\r\n2,195,\"0x2\"\r\n2,190,\"0x4\"\r\n2,195,\"0x8\"\r\n2,200,\"0x10\"\r\n"
    "2,185,\"0x40\"\r\n2,200,\"0x800\"\r\n2,200,\"0x1000\"\r\n2,195,\"0x1000000\"\r\n"
    "\r\nOK\r\n";

// kestrel table 1: 2 dB below full power on every band it has, up to band 66 (bit 65).
const std::string kKestrelFactoryTable =
    "\r\n+BODYSAR:\r\n"
    "1,215,\"0x1\"\r\n1,210,\"0x2\"\r\n1,205,\"0x8\"\r\n1,210,\"0x10\"\r\n1,215,\"0x80\"\r\n"
    "2,210,\"0x1\"\r\n2,205,\"0x2\"\r\n2,200,\"0x4\"\r\n2,205,\"0x8\"\r\n2,210,\"0x10\"\r\n2,195,\"0x40\"\r\n"
    "2,210,\"0x80\"\r\n2,210,\"0x800\"\r\n2,210,\"0x1000\"\r\n2,210,\"0x10000\"\r\n2,205,\"0x80000\"\r\n"
    "2,205,\"0x1000000\"\r\n2,210,\"0x2000000\"\r\n2,205,\"0x8000000\"\r\n2,195,\"0x2000000000\"\r\n"
    "2,195,\"0x10000000000\"\r\n2,205,\"0x20000000000000000\"\r\n"
    "\r\nOK\r\n";

constexpr ModemFamily O = ModemFamily::kOsprey;
constexpr ModemFamily K = ModemFamily::kKestrel;
constexpr ModemFamily X = ModemFamily::kOther;

INSTANTIATE_TEST_SUITE_P(
    Commands, AtReplyTest,
    ::testing::Values(
        ReplyCase{"EnableRead", O, "AT+BODYSAREN?\r\n", "\r\n+BODYSAREN: 0\r\n\r\nOK\r\n"},
        ReplyCase{"EnableSetBlanksLower", O, "at+bodysaren = 1\r\n", kOk},
        ReplyCase{"EnableSetBare", K, "AT+BODYSAREN=0", kOk},
        ReplyCase{"EnableTwo", O, "AT+BODYSAREN=2\r\n", kError},
        ReplyCase{"EnableEmpty", O, "AT+BODYSAREN=\r\n", kError},
        ReplyCase{"EnableSigned", O, "AT+BODYSAREN=+1\r\n", kError},
        ReplyCase{"EnableJunk", O, "AT+BODYSAREN=1x\r\n", kError},
        ReplyCase{"EnableTest", O, "AT+BODYSAREN=?\r\n", kOk},
        ReplyCase{"EnableAction", O, "AT+BODYSAREN\r\n", kError},
        ReplyCase{"EnableReadJunk", O, "AT+BODYSAREN?1\r\n", kError},
        ReplyCase{"ModeRead", K, "AT+BODYSARMODE?\r\n", "\r\n+BODYSARMODE: 0\r\n\r\nOK\r\n"},
        ReplyCase{"ModeReadBlank", O, "AT+BodySarMode ?", "\r\n+BODYSARMODE: 0\r\n\r\nOK\r\n"},
        ReplyCase{"ModeSet", O, "AT+BODYSARMODE=1\r\n", kOk},
        ReplyCase{"OnRead", O, "AT+BODYSARON?\r\n", "\r\n+BODYSARON: 1\r\n\r\nOK\r\n"},
        ReplyCase{"OnSet", K, "AT+BODYSARON=0\r\n", kOk},
        ReplyCase{"OnTwo", O, "AT+BODYSARON=2\r\n", kError},
        ReplyCase{"ProfileRead", O, "AT+BODYSARPROFILE?\r\n", "\r\n+BODYSARPROFILE: 1\r\n\r\nOK\r\n"},
        ReplyCase{"ProfileTwo", O, "AT+BODYSARPROFILE= 2\r\n", kOk},
        ReplyCase{"ProfileThree", K, "AT+BODYSARPROFILE=3\r\n", kError},
        ReplyCase{"TableOsprey", O, "AT+BODYSAR?\r\n", kOspreyFactoryTable},
        ReplyCase{"TableKestrel", K, "at+bodysar?", kKestrelFactoryTable},
        ReplyCase{"TableSet", O, "AT+BODYSAR=1,235,\"0x10\"\r\n", kOk},
        ReplyCase{"TableAction", O, "AT+BODYSAR\r\n", kError},
        ReplyCase{"TableTest", K, "AT+BODYSAR=?\r\n", kOk},
        ReplyCase{"Clear", O, "AT+BODYSARCLEAR\r\n", kOk},
        ReplyCase{"ClearWithArgument", O, "AT+BODYSARCLEAR=1\r\n", kError},
        ReplyCase{"Band5", O, "at+GTBAND5WA\r\n", kOk},
        ReplyCase{"Band5Other", X, "at+gtband5wa", kOk},
        ReplyCase{"CodeVerify", K, "at@sec:code_verify(0123abcd,\"x=y?\")\r\n", kOk},
        ReplyCase{"CodeVerifyEmpty", O, "AT@SEC:CODE_VERIFY()", kOk},
        ReplyCase{"CodeVerifyNoArgument", O, "at@sec:code_verify\r\n", kError},
        ReplyCase{"NvmSync", O, "at@nvm:store_nvm_sync(cal_mtpm)\r\n", kOk},
        ReplyCase{"NvmSyncOtherItem", O, "at@nvm:store_nvm_sync(cal_other)\r\n", kError},
        ReplyCase{"NvmSyncKestrel", K, "at@nvm:store_nvm_sync(cal_mtpm)\r\n", kError},
        ReplyCase{"NvmUnknown", O, "at@nvm:\r\n", kError},
        // A modem without the SAR item has no body-SAR feature.
        ReplyCase{"OtherEnable", X, "AT+BODYSAREN?\r\n", kError},
        ReplyCase{"OtherOn", X, "AT+BODYSARON?\r\n", kError},
        ReplyCase{"OtherTable", X, "AT+BODYSAR?\r\n", kError},
        ReplyCase{"OtherClear", X, "AT+BODYSARCLEAR\r\n", kError},
        ReplyCase{"NamePrefix", O, "AT+BODYSA?\r\n", kError},
        ReplyCase{"NameLonger", O, "AT+BODYSARENX?\r\n", kError}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(AtFirmwareTest, SettingsAreReadBackAndOutliveTheFirmware) {
  for (const ModemFamily f : {O, K}) {
    SCOPED_TRACE(Name(f));
    NewModem(f);
    ASSERT_EQ(kOk, Run(f, "AT+BODYSAREN=1"));
    ASSERT_EQ(kOk, Run(f, "AT+BODYSARMODE=1"));
    ASSERT_EQ(kOk, Run(f, "AT+BODYSARON=0"));
    ASSERT_EQ(kOk, Run(f, "AT+BODYSARPROFILE=2"));
    EXPECT_EQ(Answer({"+BODYSAREN: 1"}), Run(f, "AT+BODYSAREN?"));
    EXPECT_EQ(Answer({"+BODYSARMODE: 1"}), Run(f, "AT+BODYSARMODE?"));
    EXPECT_EQ(Answer({"+BODYSARON: 0"}), Run(f, "AT+BODYSARON?"));
    EXPECT_EQ(Answer({"+BODYSARPROFILE: 2"}), Run(f, "AT+BODYSARPROFILE?"));
    // Enable and polarity are the item's first two bytes, nothing else of it moved.
    Bytes expected = Factory(f);
    expected[0] = 1;
    expected[1] = 1;
    EXPECT_EQ(expected, Item(f));
  }
}

TEST_F(AtFirmwareTest, DamagedSettingFailsWhatNeedsItUntilSetAgain) {
  std::filesystem::create_directories(dir() / "modem");
  std::ofstream(dir() / "modem" / "body_sar_profile.bin", std::ios::binary) << '\x07';
  EXPECT_EQ(kError, Run(O, "AT+BODYSARPROFILE?"));
  EXPECT_EQ(kError, Run(O, "AT+BODYSAR?"));
  EXPECT_EQ(kError, Run(O, "AT+BODYSAR=1,100,\"0x1\""));
  EXPECT_EQ(Factory(O), Item(O));
  EXPECT_EQ(Answer({"+BODYSARON: 1"}), Run(O, "AT+BODYSARON?"));  // its own file is fine
  ASSERT_EQ(kOk, Run(O, "AT+BODYSARPROFILE=1"));
  EXPECT_EQ(kOspreyFactoryTable, Run(O, "AT+BODYSAR?"));
}

// ---- Table text and read-back --------------------------------------------------------------------

// Every band of both technologies at zero: osprey gets an element for each (26 new of 30 for 3G,
// 57 new of 90 for 4G), and the read-back then lists only what a case sets.
void ZeroAllBands(sim::services::AtFirmware& fw) {
  ASSERT_EQ(kOk, fw.Execute("AT+BODYSAR=1,0,\"0x3FFFFFFF\""));
  ASSERT_EQ(kOk, fw.Execute("AT+BODYSAR=2,0,\"0x3FFFFFFFFFFFFFFFF\""));
  ASSERT_EQ(Answer({"+BODYSAR:"}), fw.Execute("AT+BODYSAR?"));
}

TEST_F(AtFirmwareTest, TableTextReadsBackTruncatedToWholeSixteenthsAndTenths) {
  const struct {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      // 201 -> 321.6/16 stored as 321 -> 200.6 read as 200.
      {"1,201,\"0x1\"", {"1,200,\"0x1\""}},
      {"1,200,\"0x1\",190,\"0x2\",205,\"0x8\",220,\"0x10\"",
       {"1,200,\"0x1\"", "1,190,\"0x2\"", "1,205,\"0x8\"", "1,220,\"0x10\""}},
      {"1,235,\"0x20000000\"", {"1,235,\"0x20000000\""}},  // band 30, the last 3G band
      {"2,230,\"0x20000000000000000\"", {"2,230,\"0x20000000000000000\""}},
      // 123 -> 196 -> 122; one value for two bands.
      {"2,123,\"0x5\"", {"2,122,\"0x1\"", "2,122,\"0x4\""}},
      // Blanks, upper-case X, leading zeros, lower-case digits: bands 2 and 4.
      {" 1 , 99 , \"0X000a\" ", {"1,98,\"0x2\"", "1,98,\"0x8\""}},
      {"1,100,\"0x1\",150,\"0x1\"", {"1,150,\"0x1\""}},  // the later value stands
      {"1,0,\"0x1\"", {}},                              // a zero limit is not listed
  };
  for (const ModemFamily f : {O, K}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(Name(f)) + " " + c.text);
      NewModem(f);
      sim::services::AtFirmware fw(dir(), sim::DefaultModemConfig(f));
      ZeroAllBands(fw);
      ASSERT_EQ(kOk, fw.Execute(std::string("AT+BODYSAR=") + c.text + "\r\n"));
      std::vector<std::string> lines = {"+BODYSAR:"};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      EXPECT_EQ(Answer(lines), fw.Execute("AT+BODYSAR?\r\n"));
    }
  }
}

// A reader that takes the text between the 7th and 8th commas of the read-back as band 5's 3G
// limit relies on bands 1, 2, 4 and 5 being the first four lines.
TEST_F(AtFirmwareTest, SeventhAndEighthCommasEncloseBand5) {
  for (const ModemFamily f : {O, K}) {
    SCOPED_TRACE(Name(f));
    NewModem(f);
    ASSERT_EQ(kOk, Run(f, "AT+BODYSAR=1,221,\"0x10\""));  // 221 -> 353 -> 220
    ASSERT_EQ(kOk, Run(f, "AT+BODYSAR=2,100,\"0x10\""));  // the same band on 4G must not interfere
    const std::string reply = Run(f, "AT+BODYSAR?");
    std::size_t comma = std::string::npos;
    std::size_t commas[8];
    for (std::size_t& at : commas) {
      at = reply.find(',', comma + 1);
      ASSERT_NE(std::string::npos, at) << reply;
      comma = at;
    }
    EXPECT_EQ("220", reply.substr(commas[6] + 1, commas[7] - commas[6] - 1)) << reply;
  }
}

TEST_F(AtFirmwareTest, RefusedTextsChangeNothing) {
  const char* const texts[] = {
      "",
      "1",
      "1,",
      "3,100,\"0x1\"",                  // no such technology
      "0,100,\"0x1\"",                  //
      "1,236,\"0x1\"",                  // above 23.5 dBm
      "2,231,\"0x1\"",                  // above 23.0 dBm
      "1,-1,\"0x1\"",                   //
      "1,,\"0x1\"",                     //
      "1,100,0x1",                      // mask unquoted
      "1,100,\"0x1",                    // unterminated
      "1,100,\"1\"",                    // no 0x
      "1,100,\"0x\"",                   //
      "1,100,\"0x0\"",                  // names no band
      "1,100,\"0xG\"",                  //
      "1,100,\"0x1\",",                 //
      "1,100,\"0x1\",200",              //
      "1,100,\"0x1\" x",                //
      "1,100,\"0x40000000\"",           // 3G band 31
      "2,100,\"0x40000000000000000\"",  // 4G band 67
      // A good pair first: nothing of it may be written either.
      "1,100,\"0x1\",240,\"0x2\"",
      "1,100,\"0x1\",100,\"0x80000000\"",
  };
  for (const ModemFamily f : {O, K}) {
    for (const char* text : texts) {
      SCOPED_TRACE(std::string(Name(f)) + " " + text);
      EXPECT_EQ(kError, Run(f, std::string("AT+BODYSAR=") + text + "\r\n"));
      EXPECT_EQ(Factory(f), Item(f));
    }
  }
}

// ---- Where the limits land -----------------------------------------------------------------------

TEST_F(AtFirmwareTest, OspreyUpdatesTheBandsElementOrAppendsOne) {
  Bytes expected = Factory(O);
  // Profile 1's 3G block is at 1450: count at 1452, element e at 1454 + 12e (band, reserved,
  // ports A..D). Band 5 is element 3.
  ASSERT_EQ(kOk, Run(O, "AT+BODYSAR=1,220,\"0x10\""));
  for (std::size_t port = 0; port < 4; ++port) Put16(expected, 1454 + 36 + 4 + 2 * port, 352);
  EXPECT_EQ(expected, Item(O));

  ASSERT_EQ(kOk, Run(O, "AT+BODYSAR=1,150,\"0x80\""));  // band 8: a fifth element
  Put16(expected, 1452, 5);
  Put16(expected, 1454 + 48, 8);
  for (std::size_t port = 0; port < 4; ++port) Put16(expected, 1454 + 48 + 4 + 2 * port, 240);
  EXPECT_EQ(expected, Item(O));

  // The 4G block at 1450 + 364: nine elements, the tenth at 1818 + 108.
  ASSERT_EQ(kOk, Run(O, "AT+BODYSAR=2,230,\"0x20000000000000000\""));
  Put16(expected, 1816, 10);
  Put16(expected, 1926, 66);
  for (std::size_t port = 0; port < 4; ++port) Put16(expected, 1926 + 4 + 2 * port, 368);
  EXPECT_EQ(expected, Item(O));

  // Profile 0 (offset 2) once the profile setting selects it; 2 selects profile 1 again.
  ASSERT_EQ(kOk, Run(O, "AT+BODYSARPROFILE=0"));
  ASSERT_EQ(kOk, Run(O, "AT+BODYSAR=1,100,\"0x1\""));
  for (std::size_t port = 0; port < 4; ++port) Put16(expected, 2 + 4 + 4 + 2 * port, 160);
  ASSERT_EQ(kOk, Run(O, "AT+BODYSARPROFILE=2"));
  ASSERT_EQ(kOk, Run(O, "AT+BODYSAR=1,100,\"0x2\""));
  for (std::size_t port = 0; port < 4; ++port) Put16(expected, 1454 + 12 + 4 + 2 * port, 160);
  EXPECT_EQ(expected, Item(O));
}

TEST_F(AtFirmwareTest, OspreyFullBlockRefusesANewBandButUpdatesAnExistingOne) {
  // Thirty elements, the 26 past the factory's four naming band 0.
  ASSERT_EQ(kOk, Run(O, "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.numOverrideElts=30"));
  const Bytes full = Item(O);
  ASSERT_EQ(30, U16(full, 1452));
  EXPECT_EQ(kError, Run(O, "AT+BODYSAR=1,100,\"0x4\""));
  EXPECT_EQ(kError, Run(O, "AT+BODYSAR=1,100,\"0x1\",100,\"0x4\""));
  EXPECT_EQ(full, Item(O));
  ASSERT_EQ(kOk, Run(O, "AT+BODYSAR=1,100,\"0x1\""));
  EXPECT_EQ(160, U16(Item(O), 1454 + 4));
  // A count beyond the capacity is a table the firmware does not trust.
  Bytes damaged = Item(O);
  Put16(damaged, 1452, 31);
  ASSERT_TRUE(sim::NvmStore(dir(), O).Write(kSarItem, 0, damaged));
  EXPECT_EQ(kError, Run(O, "AT+BODYSAR=1,100,\"0x1\""));
  EXPECT_EQ(damaged, Item(O));
}

TEST_F(AtFirmwareTest, KestrelWritesTheBandWordOfTheActiveTable) {
  Bytes expected = Factory(K);
  // Table 1 at 210: 3G band b at word 8 + b - 1, 4G band b at word 38 + b - 1.
  ASSERT_EQ(kOk, Run(K, "AT+BODYSAR=1,201,\"0x10\""));
  Put16(expected, 210 + 2 * 12, 321);
  ASSERT_EQ(kOk, Run(K, "AT+BODYSAR=2,230,\"0x20000000000000001\""));  // bands 1 and 66
  Put16(expected, 210 + 2 * 38, 368);
  Put16(expected, 210 + 2 * 103, 368);
  EXPECT_EQ(expected, Item(K));
  for (const auto& [profile, table_at] : {std::pair{"0", 2}, std::pair{"2", 418}}) {
    ASSERT_EQ(kOk, Run(K, std::string("AT+BODYSARPROFILE=") + profile));
    ASSERT_EQ(kOk, Run(K, "AT+BODYSAR=1,50,\"0x1\""));
    Put16(expected, static_cast<std::size_t>(table_at) + 2 * 8, 80);
  }
  EXPECT_EQ(expected, Item(K));
}

TEST_F(AtFirmwareTest, ClearRestoresTheFactoryWithBodySarEnabled) {
  for (const ModemFamily f : {O, K}) {
    SCOPED_TRACE(Name(f));
    NewModem(f);
    for (const char* c : {"AT+BODYSARMODE=1", "AT+BODYSARON=0", "AT+BODYSAR=1,10,\"0x3\"", "AT+BODYSARPROFILE=0",
                          "AT+BODYSAR=2,10,\"0x3\""})
      ASSERT_EQ(kOk, Run(f, c));
    ASSERT_NE(Factory(f), Item(f));
    ASSERT_EQ(kOk, Run(f, "AT+BODYSARCLEAR\r\n"));
    Bytes expected = Factory(f);
    expected[0] = 1;
    EXPECT_EQ(expected, Item(f));
    EXPECT_EQ(Answer({"+BODYSARON: 1"}), Run(f, "AT+BODYSARON?"));
    EXPECT_EQ(Answer({"+BODYSARPROFILE: 1"}), Run(f, "AT+BODYSARPROFILE?"));
    EXPECT_EQ(Answer({"+BODYSARMODE: 0"}), Run(f, "AT+BODYSARMODE?"));
    EXPECT_EQ(f == O ? kOspreyFactoryTable : kKestrelFactoryTable, Run(f, "AT+BODYSAR?"));
  }
}

// ---- at@nvm --------------------------------------------------------------------------------------

TEST_F(AtFirmwareTest, CalMtpmAssignmentsChangeTheBytesTheNvmServiceReturns) {
  const std::string p = "at@nvm:cal_mtpm.mtpm_tx_power_table[";
  const struct {
    std::string command;
    std::size_t offset;
    std::vector<std::uint16_t> values;  // the words from offset on
  } cases[] = {
      {p + "0].max_tx_pwr_3g.overrideVals[0].override_portA=300", 2 + 4 + 4, {300}},
      {p + "1].max_tx_pwr_3g.overrideVals[2].override_portD=17", 1450 + 4 + 24 + 10, {17}},
      {p + "0].max_tx_pwr_3g.overrideVals[1].override_portb = 65535\r\n", 2 + 4 + 12 + 6, {65535}},
      {p + "0].MAX_TX_PWR_3G.overrideVals[29].band=8", 2 + 4 + 29 * 12, {8}},
      {p + "1].max_tx_pwr_4g.overrideVals[89].band=71", 1450 + 364 + 4 + 89 * 12, {71}},
      {p + "1].max_tx_pwr_4g.overrideVals[0].override_portC=1", 1450 + 364 + 4 + 8, {1}},
      {p + "0].max_tx_pwr_4g.numOverrideElts=90", 2 + 364 + 2, {90}},
      {p + "1].max_tx_pwr_3g.numOverrideElts=0", 1450 + 2, {0}},
      // A whole element: band, second word, ports A to D.
      {p + "1].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320}\r\n", 1450 + 4 + 5 * 12, {6, 0, 376, 320, 368, 320}},
      {p + "0].max_tx_pwr_4g.overrideVals[3] = { 7, 4, 1, 2, 3, 65535 }", 2 + 364 + 4 + 3 * 12, {7, 4, 1, 2, 3, 65535}},
  };
  Bytes expected = Factory(O);
  sim::services::NvmService nvm(dir(), O);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(kOk, Run(O, c.command));
    Bytes words;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      Put16(expected, c.offset + 2 * i, c.values[i]);
      words.push_back(static_cast<std::uint8_t>(c.values[i]));
      words.push_back(static_cast<std::uint8_t>(c.values[i] >> 8));
    }
    const auto o = static_cast<std::uint32_t>(c.offset);
    const auto n = static_cast<std::uint8_t>(words.size());
    const auto reply = nvm.Query(1, {0x00, 0x00, 0x3d, 0x10, static_cast<std::uint8_t>(o), static_cast<std::uint8_t>(o >> 8),
                                     0, 0, n, 0, 0, 0});
    ASSERT_EQ(plat::S_OK, reply.status);
    Bytes want = {0x00, 0x00, 0x3d, 0x10, n, 0, 0, 0};
    want.insert(want.end(), words.begin(), words.end());
    EXPECT_EQ(want, reply.payload);
  }
  EXPECT_EQ(expected, Item(O));
}

TEST_F(AtFirmwareTest, CalMtpmPortAIsWhatTheReadBackShows) {
  ASSERT_EQ(kOk, Run(O, "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[0].override_portA=160"));
  ASSERT_EQ(kOk, Run(O, "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[1].override_portB=1"));
  const std::string reply = Run(O, "AT+BODYSAR?");
  EXPECT_EQ(0u, reply.find("\r\n+BODYSAR:\r\n1,100,\"0x1\"\r\n1,200,\"0x2\"\r\n")) << reply;
}

TEST_F(AtFirmwareTest, RefusedCalMtpmAssignmentsChangeNothing) {
  const std::string p = "at@nvm:cal_mtpm.mtpm_tx_power_table[";
  const std::string refused[] = {
      p + "0].max_tx_pwr_3g.overrideVals[30].band=1",  // 3G holds 30 elements
      p + "0].max_tx_pwr_4g.overrideVals[90].band=1",  // 4G holds 90
      p + "2].max_tx_pwr_3g.overrideVals[0].band=1",   // two profiles
      p + "0].max_tx_pwr_3g.numOverrideElts=31",
      p + "0].max_tx_pwr_4g.numOverrideElts=91",
      p + "0].max_tx_pwr_3g.overrideVals[0].override_portA=65536",
      p + "0].max_tx_pwr_3g.overrideVals[0].override_portE=1",
      p + "0].max_tx_pwr_3g.overrideVals[0].override_portA=-1",
      p + "0].max_tx_pwr_3g.overrideVals[0].override_portA=",
      p + "0].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368}",  // an element has six words
      p + "0].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320,1}",
      p + "0].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320",
      p + "0].max_tx_pwr_3g.overrideVals[5]=6",
      p + "0].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,65536}",
      p + "0].max_tx_pwr_3g.overrideVals[0].override_portA",
      p + "0].max_tx_pwr_3g.overrideVals[0].override_portA=1 2",
      p + "0].max_tx_pwr_3g.overrideVals[0].reserved=1",
      p + "0].max_tx_pwr_5g.numOverrideElts=1",
      p + "].max_tx_pwr_3g.numOverrideElts=1",
      "at@nvm:cal_other.mtpm_tx_power_table[0].max_tx_pwr_3g.numOverrideElts=1",
  };
  for (const std::string& c : refused) {
    SCOPED_TRACE(c);
    EXPECT_EQ(kError, Run(O, c));
  }
  EXPECT_EQ(Factory(O), Item(O));
  EXPECT_EQ(kError, Run(K, p + "0].max_tx_pwr_3g.overrideVals[0].band=1"));
  EXPECT_EQ(Factory(K), Item(K));
}

// ---- Replies from modem.ini ----------------------------------------------------------------------

const char kRepliesIni[] =
    "[module]\nfamily=osprey\n"
    "[at_replies]\n"
    "AT+BODYSAR? = \"\\r\\n+BODYSAR:\\r\\n1,200,\\\"0x1\\\"\\r\\n\"\n"
    "at+bodysar = \\r\\nBUSY\\r\\n\n"
    "AT+BODYSARON = C:\\\\modem\\\\on\n"
    "AT+CGS = \n"
    "AT+cgs = twice\n"
    "AT+CGMI = \\tab\n";

TEST_F(AtFirmwareTest, ConfiguredRepliesDecodeEscapesAndTheLongestPrefixWins) {
  const sim::ModemConfig config = sim::ParseModemConfig(kRepliesIni);
  ASSERT_EQ(4u, config.at_replies.size());
  EXPECT_EQ(2u, config.warnings.size());  // the repeated AT+CGS and the unknown \t
  sim::services::AtFirmware fw(dir(), config);
  const struct {
    const char* command;
    std::string reply;
  } cases[] = {
      {"AT+BODYSAR?\r\n", "\r\n+BODYSAR:\r\n1,200,\"0x1\"\r\n"},  // fewer than eight commas, no OK
      {"at+BodySar?", "\r\n+BODYSAR:\r\n1,200,\"0x1\"\r\n"},
      {"AT+BODYSAR=1,100,\"0x1\"\r\n", "\r\nBUSY\r\n"},
      {"AT+BODYSAREN?\r\n", "\r\nBUSY\r\n"},
      {"AT+BODYSARON?\r\n", "C:\\modem\\on"},
      {"AT+CGSN\r\n", ""},
      {"AT+CGMI\r\n", "\r\nSimulated Modem Co\r\n\r\nOK\r\n"},  // its entry was refused
      {"AT\r\n", kOk},
      {" AT+BODYSAR?", kError},  // matched from the first byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(c.reply, fw.Execute(c.command));
  }
  EXPECT_EQ(Factory(O), Item(O));  // the configured reply stood in for the set
}

// The tunnel and the control library's own channel reach one modem, and modem.ini's replies
// reach both.
TEST_F(AtFirmwareTest, TunnelAndCommandServiceShareTheModem) {
  WriteIni("[at_replies]\nAT+CGMR = \\r\\nX1\\r\\n\\r\\nOK\\r\\n\n");
  auto padded = [](const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.resize(text.size() + 16, 0);
    return b;
  };
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  ServiceClient tunnel(kAtTunnelId);
  ServiceClient channel(kAtCommandId);
  const Delivered set = tunnel.Set(1, padded("AT+BODYSAR=1,150,\"0x10\"\r\n"));
  EXPECT_EQ(plat::S_OK, set.status);
  EXPECT_EQ(text(kOk), set.data);
  const Delivered read = channel.Set(1, text("AT+BODYSAR?\r\n"));
  EXPECT_EQ(plat::S_OK, read.status);
  const std::string reply(read.data.begin(), read.data.end());
  EXPECT_EQ(0u, reply.find("\r\n+BODYSAR:\r\n1,205,\"0x1\"\r\n1,200,\"0x2\"\r\n1,195,\"0x8\"\r\n1,150,\"0x10\"\r\n"))
      << reply;
  EXPECT_EQ(text("\r\nX1\r\n\r\nOK\r\n"), channel.Set(1, text("AT+CGMR")).data);
  EXPECT_EQ(text("\r\nX1\r\n\r\nOK\r\n"), tunnel.Set(1, padded("at+cgmr\r\n")).data);
}

}  // namespace
}  // namespace simtest
