// The switch exports and the IMEI: in this process against the simulated notebook (the direct
// road, and the bridge road through the real bridge beside this test program), and end to end in
// a client process of the built library beside the real bridge or a stand-in for it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/switches/switches.h"
#include "bridge/messages/records.h"
#include "platform/bytes.h"
#include "platform/mbn.h"
#include "platform/text.h"
#include "sim/testing.h"
#include "tests/bridge/test_support.h"

namespace {

using namespace txltest;

// What the library's own channel sent to the modem's AT command service, in order.
std::vector<std::string> DirectTexts() {
  std::vector<std::string> texts;
  for (const auto& r : sim::testing::Requests())
    if (r.op == "set") texts.emplace_back(r.data.begin(), r.data.end());
  return texts;
}

class SwitchesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::testing::ResetAll();
    krill::ntype = krill::kTypeUnknown;
    krill::g_ulRetValue = 1;
    krill::g_MoblieBandInfo = {};
    if (krill::g_InterfaceManager) krill::g_InterfaceManager->Release();
    krill::g_InterfaceManager = nullptr;
  }
  void TearDown() override { sim::testing::ResetAll(); }
  // Writes modem.ini, identifies the module and forgets what identification sent.
  void Identify(const std::string& ini, std::uint32_t expected_type) {
    WriteFile(machine_.ModemIni(), ini);
    // The notebook's manager object keeps the modem as it was when it was made.
    if (krill::g_InterfaceManager) krill::g_InterfaceManager->Release();
    krill::g_InterfaceManager = nullptr;
    unsigned int flag = 0;
    krill::get_IsMBIMReadyV2Ex(&flag);
    ASSERT_EQ(expected_type, krill::ntype);
    sim::testing::ResetAll();
  }

  TempDir dir_;
  MachineDirScope machine_{dir_.path()};
};

// Osprey whose firmware keeps the bridge road closed, Kestrel whose bridge refuses the probe:
// both use the library's own channel.
const std::string kOspreyDirect = "[module]\nfirmware=41400.1000.00.04.01.12\n";
const std::string kKestrelDirect = "[module]\nfamily=kestrel\n[faults]\nfail=ms_sar:open=0x80004005\n";

TEST(ParseSwitchReplyTest, Cases) {
  const struct {
    const char* reply;
    int answer;
  } cases[] = {{"\r\n+BODYSARON: 1\r\n\r\nOK\r\n", 1},
               {"\r\n+BODYSARON:1\r\n\r\nOK\r\n", 1},
               {"+BODYSARPROFILE: 2\r\n", 0},
               {"+BODYSAREN: 0", 0},
               {"BODYSARON: 1\r\nOK", 0},  // no plus sign
               {"+BODYSARON 1", 0},        // no colon
               {"+BODYSARON:", 0},         // nothing after the colon
               {"+BODYSARON:  1", 0},      // only one blank is skipped
               {"OK +X: 1 +Y: 0", 1},      // the first plus sign counts
               {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.answer, krill::ParseSwitchReply(c.reply)) << c.reply;
}

// Every switch export, by name, with an out value where it has one.
struct Call {
  const char* name;
  std::function<int(int* out)> run;
};
const std::vector<Call>& Calls() {
  static const std::vector<Call> calls = {
      {"set_BodySarEnable", [](int*) { return set_BodySarEnable(1); }},
      {"get_BodySarEnable", [](int* v) { return get_BodySarEnable(v); }},
      {"set_BodySarON", [](int*) { return set_BodySarON(1); }},
      {"get_BodySarON", [](int* v) { return get_BodySarON(v); }},
      {"set_BodySarMode", [](int*) { return set_BodySarMode(1); }},
      {"get_BodySarMode", [](int* v) { return get_BodySarMode(v); }},
      {"set_BodySarProfile", [](int*) { return set_BodySarProfile(1); }},
      {"get_BodySarProfile",
       [](int* v) {
         unsigned int u = static_cast<unsigned int>(*v);
         const int r = get_BodySarProfile(&u);
         *v = static_cast<int>(u);
         return r;
       }},
      {"set_BodySarClear", [](int*) { return set_BodySarClear(); }}};
  return calls;
}
const Call& CallOf(const std::string& name) {
  for (const Call& c : Calls())
    if (name == c.name) return c;
  throw std::runtime_error("no export " + name);
}

TEST_F(SwitchesTest, BeforeIdentificationEveryExportAnswersFiveAndSendsNothing) {
  for (const Call& c : Calls()) {
    int value = -7;
    EXPECT_EQ(5, c.run(&value)) << c.name;
    EXPECT_EQ(-7, value) << c.name;
  }
  EXPECT_TRUE(sim::testing::Requests().empty());
  EXPECT_EQ(krill::kTypeUnknown, krill::ntype);
}

TEST_F(SwitchesTest, NeitherFamilyGetsPlainTextsWithoutLineEndAndNoOkCheck) {
  // A setting needs no "OK" from such a module, but a refusal fails it; a value is read only from
  // a reply that says "OK", and a failed read leaves the out value alone.
  const struct {
    const char* reply;  // modem.ini escapes
    int set_result;
    int get_result;
    int value;
  } replies[] = {{"\\r\\nBUSY\\r\\n", 0, 4, -7},
                 {"\\r\\nERROR\\r\\n", 4, 4, -7},
                 {"\\r\\n+BODYSARON: 1\\r\\nOK then ERROR\\r\\n", 4, 4, -7},
                 {"\\r\\n+BODYSARON: 1\\r\\n\\r\\nOK\\r\\n", 0, 0, 1}};
  for (const auto& r : replies) {
    Identify(std::string("[module]\nfamily=other\n[at_replies]\nAT+BODYSAR = ") + r.reply + "\n", krill::kTypeOther);
    for (const char* name : {"set_BodySarMode", "get_BodySarMode", "set_BodySarProfile", "get_BodySarProfile"}) {
      int value = -7;
      EXPECT_EQ(5, CallOf(name).run(&value)) << name;
      EXPECT_EQ(-7, value) << name;
    }
    EXPECT_TRUE(DirectTexts().empty());
    EXPECT_EQ(r.set_result, set_BodySarEnable(1)) << r.reply;
    EXPECT_EQ(r.set_result, set_BodySarON(0)) << r.reply;
    EXPECT_EQ(r.set_result, set_BodySarClear()) << r.reply;
    int value = -7;
    EXPECT_EQ(r.get_result, get_BodySarON(&value)) << r.reply;
    EXPECT_EQ(r.value, value) << r.reply;
    EXPECT_EQ((std::vector<std::string>{"AT+BODYSAREN = 1", "AT+BODYSARON = 0", "AT+BODYSARCLEAR", "AT+BODYSARON?"}),
              DirectTexts());
  }
}

struct NoOkCase {
  const char* name;
  const char* modem;  // kOspreyDirect or kKestrelDirect
  std::uint32_t type;
  const char* call;
  int result;
  const char* sent;
  const char* reply = "\\r\\nERROR\\r\\n";  // modem.ini escapes, for every AT+BODYSAR… command
};
void PrintTo(const NoOkCase& c, std::ostream* os) { *os << c.name; }

class DirectSetterTest : public SwitchesTest, public ::testing::WithParamInterface<NoOkCase> {};

TEST_P(DirectSetterTest, ReplyWithoutOk) {
  const NoOkCase& c = GetParam();
  Identify(std::string(c.modem) + "[at_replies]\nAT+BODYSAR = " + c.reply + "\n", c.type);
  int value = -7;
  EXPECT_EQ(c.result, CallOf(c.call).run(&value));
  EXPECT_EQ(std::vector<std::string>{c.sent}, DirectTexts());
  // No getter reads a value out of a reply it does not accept.
  if (c.result != 0) {
    EXPECT_EQ(-7, value);
  }
}

const char kBusy[] = "\\r\\nBUSY\\r\\n";
const char kDigitWithoutOk[] = "\\r\\n+BODYSAR: 1\\r\\n";
const char kDigitAndError[] = "\\r\\n+BODYSAR: 1\\r\\n\\r\\nOK\\r\\nERROR\\r\\n";

INSTANTIATE_TEST_SUITE_P(
    NoOk, DirectSetterTest,
    ::testing::Values(
        NoOkCase{"KestrelEnable", kKestrelDirect.c_str(), 2, "set_BodySarEnable", 4, "AT+BODYSAREN = 1\r\n"},
        NoOkCase{"KestrelOn", kKestrelDirect.c_str(), 2, "set_BodySarON", 4, "AT+BODYSARON = 1\r\n"},
        NoOkCase{"KestrelClear", kKestrelDirect.c_str(), 2, "set_BodySarClear", 4, "AT+BODYSARCLEAR\r\n"},
        // Kestrel's mode and profile need no "OK", but a refusal is still one.
        NoOkCase{"KestrelModeRefused", kKestrelDirect.c_str(), 2, "set_BodySarMode", 4, "AT+BODYSARMODE = 1\r\n"},
        NoOkCase{"KestrelProfileRefused", kKestrelDirect.c_str(), 2, "set_BodySarProfile", 4,
                 "AT+BODYSARPROFILE = 1\r\n"},
        NoOkCase{"KestrelModeWithoutOk", kKestrelDirect.c_str(), 2, "set_BodySarMode", 0, "AT+BODYSARMODE = 1\r\n",
                 kBusy},
        NoOkCase{"KestrelProfileWithoutOk", kKestrelDirect.c_str(), 2, "set_BodySarProfile", 0,
                 "AT+BODYSARPROFILE = 1\r\n", kBusy},
        NoOkCase{"KestrelEnableWithoutOk", kKestrelDirect.c_str(), 2, "set_BodySarEnable", 4, "AT+BODYSAREN = 1\r\n",
                 kBusy},
        NoOkCase{"OspreyMode", kOspreyDirect.c_str(), 3, "set_BodySarMode", 4, "AT+BODYSARMODE = 1\r\n"},
        NoOkCase{"OspreyProfile", kOspreyDirect.c_str(), 3, "set_BodySarProfile", 4, "AT+BODYSARPROFILE = 1\r\n"},
        NoOkCase{"OspreyEnable", kOspreyDirect.c_str(), 3, "set_BodySarEnable", 4, "AT+BODYSAREN = 1\r\n"},
        NoOkCase{"OspreyOnWithoutOk", kOspreyDirect.c_str(), 3, "set_BodySarON", 4, "AT+BODYSARON = 1\r\n", kBusy},
        NoOkCase{"OspreyClearOkAndError", kOspreyDirect.c_str(), 3, "set_BodySarClear", 4, "AT+BODYSARCLEAR\r\n",
                 kDigitAndError},
        // The getters: a refused reply, or one without "OK", is no value.
        NoOkCase{"OspreyGetEnableRefused", kOspreyDirect.c_str(), 3, "get_BodySarEnable", 4, "AT+BODYSAREN?\r\n"},
        NoOkCase{"OspreyGetOnRefused", kOspreyDirect.c_str(), 3, "get_BodySarON", 4, "AT+BODYSARON?\r\n"},
        NoOkCase{"OspreyGetModeRefused", kOspreyDirect.c_str(), 3, "get_BodySarMode", 4, "AT+BODYSARMODE?\r\n"},
        NoOkCase{"OspreyGetProfileRefused", kOspreyDirect.c_str(), 3, "get_BodySarProfile", 4,
                 "AT+BODYSARPROFILE?\r\n"},
        NoOkCase{"KestrelGetModeRefused", kKestrelDirect.c_str(), 2, "get_BodySarMode", 4, "AT+BODYSARMODE?\r\n"},
        NoOkCase{"OspreyGetOnDigitWithoutOk", kOspreyDirect.c_str(), 3, "get_BodySarON", 4, "AT+BODYSARON?\r\n",
                 kDigitWithoutOk},
        NoOkCase{"KestrelGetProfileDigitWithoutOk", kKestrelDirect.c_str(), 2, "get_BodySarProfile", 4,
                 "AT+BODYSARPROFILE?\r\n", kDigitWithoutOk},
        NoOkCase{"OspreyGetEnableDigitAndError", kOspreyDirect.c_str(), 3, "get_BodySarEnable", 4,
                 "AT+BODYSAREN?\r\n", kDigitAndError}),
    [](const ::testing::TestParamInfo<NoOkCase>& p) { return std::string(p.param.name); });

TEST_F(SwitchesTest, DirectSettersReachTheModemFirmware) {
  Identify(kOspreyDirect, krill::kTypeOsprey);
  EXPECT_EQ(0, set_BodySarON(1));
  int value = -7;
  EXPECT_EQ(0, get_BodySarON(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, set_BodySarON(0));
  EXPECT_EQ(0, get_BodySarON(&value));
  EXPECT_EQ(0, value);
}

struct GetterReplyCase {
  const char* name;
  const char* reply;  // modem.ini escapes
  int value;
};
void PrintTo(const GetterReplyCase& c, std::ostream* os) { *os << c.name; }

class DirectGetterTest : public SwitchesTest, public ::testing::WithParamInterface<GetterReplyCase> {};

TEST_P(DirectGetterTest, ValueIsZeroOrOne) {
  const GetterReplyCase& c = GetParam();
  Identify(kOspreyDirect + "[at_replies]\nAT+BODYSARPROFILE? = " + c.reply + "\n", krill::kTypeOsprey);
  unsigned int value = 7;
  EXPECT_EQ(0, get_BodySarProfile(&value));
  EXPECT_EQ(static_cast<unsigned int>(c.value), value);
}

INSTANTIATE_TEST_SUITE_P(Replies, DirectGetterTest,
                         ::testing::Values(GetterReplyCase{"OneWithBlank", "\\r\\n+BODYSARPROFILE: 1\\r\\n\\r\\nOK\\r\\n", 1},
                                           GetterReplyCase{"OneWithoutBlank", "\\r\\n+BODYSARPROFILE:1\\r\\nOK\\r\\n", 1},
                                           GetterReplyCase{"TwoReadsAsZero", "\\r\\n+BODYSARPROFILE: 2\\r\\nOK\\r\\n", 0},
                                           GetterReplyCase{"NoPlusSign", "\\r\\nBODYSARPROFILE: 1\\r\\nOK\\r\\n", 0}),
                         [](const ::testing::TestParamInfo<GetterReplyCase>& p) { return std::string(p.param.name); });

TEST_F(SwitchesTest, BridgeRoadRoundTripsEverySwitch) {
  Identify("", krill::kTypeOsprey);
  int value = -7;
  unsigned int profile = 7;
  EXPECT_EQ(0, set_BodySarEnable(0));
  EXPECT_EQ(0, get_BodySarEnable(&value));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0, set_BodySarMode(1));
  EXPECT_EQ(0, get_BodySarMode(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, set_BodySarON(1));
  EXPECT_EQ(0, get_BodySarON(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, set_BodySarProfile(0));
  EXPECT_EQ(0, get_BodySarProfile(&profile));
  EXPECT_EQ(0u, profile);
  // Nothing went over the library's own channel.
  EXPECT_TRUE(DirectTexts().empty());
}

TEST_F(SwitchesTest, BridgeClearOnOspreyLeavesEnabledModeZeroProfileOneAndDefaultTables) {
  Identify("", krill::kTypeOsprey);
  ASSERT_EQ(0, set_BodySarEnable(0));
  ASSERT_EQ(0, set_BodySarMode(1));
  ASSERT_EQ(0, set_BodySarProfile(0));
  EXPECT_EQ(0, set_BodySarClear());
  int value = -7;
  unsigned int profile = 7;
  EXPECT_EQ(0, get_BodySarEnable(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, get_BodySarMode(&value));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0, get_BodySarProfile(&profile));
  EXPECT_EQ(1u, profile);

  // Both profile tables now hold the default elements.
  const std::string item = ReadFile(dir_.path() / "modem" / "nvm" / "103d0000.bin");
  using vexel::OspreyPowerTable;
  using vexel::TxPowerElement;
  ASSERT_GE(item.size(), static_cast<std::size_t>(OspreyPowerTable::ItemOffset(2)));
  plat::LeReader fields(std::span(reinterpret_cast<const std::uint8_t*>(item.data()), item.size()));
  for (std::uint32_t p : {0u, 1u}) {
    const std::size_t table = OspreyPowerTable::ItemOffset(p);
    EXPECT_EQ(6, fields.U16(table + OspreyPowerTable::k3gCount)) << p;
    EXPECT_EQ(45, fields.U16(table + OspreyPowerTable::k4gCount)) << p;
    const std::size_t band6 = table + OspreyPowerTable::k3gElements + 5 * TxPowerElement::kSize;
    EXPECT_EQ(6, fields.U16(band6 + TxPowerElement::kBand));
    EXPECT_EQ(376, fields.U16(band6 + TxPowerElement::kPortD));
    const std::size_t band30 = table + OspreyPowerTable::k4gElements + 23 * TxPowerElement::kSize;
    EXPECT_EQ(30, fields.U16(band30 + TxPowerElement::kBand));
    EXPECT_EQ(352, fields.U16(band30 + TxPowerElement::kPortA));
    const std::size_t band41 = table + OspreyPowerTable::k4gElements + 40 * TxPowerElement::kSize;
    EXPECT_EQ(41, fields.U16(band41 + TxPowerElement::kBand));
    EXPECT_EQ(37, fields.U16(band41 + TxPowerElement::kCarried));
    EXPECT_EQ(368, fields.U16(band41 + TxPowerElement::kPortC));
  }
  EXPECT_TRUE(fields.ok());
}

TEST_F(SwitchesTest, BridgeClearOnKestrelResetsOnlyThePowerEntriesOfTablesZeroAndOne) {
  Identify("[module]\nfamily=kestrel\n", krill::kTypeKestrel);
  using vexel::KestrelTableSet;
  using vexel::ProfilePowerImage;
  auto read = [] {
    std::vector<std::uint8_t> image(krill::kProfilePowerImageBytes, 0);
    EXPECT_EQ(0, krill::CallBridge(krill::KestrelVexelAtSendFun, "AT+BODYSAR?\r\n", image.data()).result);
    return image;
  };
  const std::vector<std::uint8_t> before = read();
  EXPECT_EQ(0, set_BodySarClear());
  const std::vector<std::uint8_t> after = read();
  auto table = [](const std::vector<std::uint8_t>& image, std::size_t t) {
    return image.data() + ProfilePowerImage::kTableOffset + KestrelTableSet::TableOffset(t);
  };
  plat::LeReader fields(after);
  for (std::size_t t = 0; t < 2; ++t) {
    const std::size_t at = ProfilePowerImage::kTableOffset + KestrelTableSet::TableOffset(t);
    for (std::size_t b = 0; b < KestrelTableSet::k3gBands; ++b)
      EXPECT_EQ(376, fields.U16(at + 2 * (KestrelTableSet::k3gWord + b))) << t << "/" << b;
    for (std::size_t b = 0; b < KestrelTableSet::k4gBands; ++b)
      EXPECT_EQ(368, fields.U16(at + 2 * (KestrelTableSet::k4gWord + b))) << t << "/" << b;
  }
  EXPECT_TRUE(fields.ok());
  // The head of table 0 and all of table 2 are the modem's own, as they were.
  EXPECT_TRUE(std::equal(table(before, 0), table(before, 0) + KestrelTableSet::kHeadSize, table(after, 0)));
  EXPECT_TRUE(std::equal(table(before, 2), table(before, 2) + KestrelTableSet::kTableSize, table(after, 2)));
}

TEST_F(SwitchesTest, ImeiFromThePlatformSendsNothing) {
  Identify("[module]\nimei=490154203237518\n[setupapi]\ncount=0\n", krill::kTypeOsprey);
  char buffer[32] = "untouched";
  EXPECT_EQ(0, get_ImeiInfo(buffer));
  EXPECT_STREQ("490154203237518", buffer);
  EXPECT_TRUE(DirectTexts().empty());
}

struct ImeiCase {
  const char* name;
  const char* reply;  // modem.ini escapes; null: the modem's firmware answers with its device id
  int result;
  const char* buffer;
  std::string platform = "";  // the device id the platform reports, which the export tries first
};
void PrintTo(const ImeiCase& c, std::ostream* os) { *os << c.name; }

class ImeiTest : public SwitchesTest, public ::testing::WithParamInterface<ImeiCase> {};

TEST_P(ImeiTest, FromTheModemsReply) {
  const ImeiCase& c = GetParam();
  std::string ini = "[module]\nimei=" + c.platform + "\n";
  if (c.reply) ini += std::string("[at_replies]\nAT+CGSN = ") + c.reply + "\n";
  Identify(ini, krill::kTypeOsprey);
  ASSERT_EQ(c.platform, krill::g_MoblieBandInfo.strImeiInfo);
  // Exactly the 16 bytes the export asks for, on the heap, so that the address sanitizer sees a
  // write past them.
  std::unique_ptr<char[]> buffer(new char[16]);
  std::strcpy(buffer.get(), "untouched");
  EXPECT_EQ(c.result, get_ImeiInfo(buffer.get()));
  EXPECT_STREQ(c.buffer, buffer.get());
  EXPECT_EQ(std::vector<std::string>{"AT+CGSN\r\n"}, DirectTexts());
}

const char kModemImei[] = "\\r\\n356938035643809\\r\\n\\r\\nOK\\r\\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, ImeiTest,
    ::testing::Values(ImeiCase{"FifteenDigits", kModemImei, 0, "356938035643809"},
                      ImeiCase{"WithALetter", "\\r\\n35693803564380A\\r\\n\\r\\nOK\\r\\n", 5, "untouched"},
                      ImeiCase{"FourteenDigits", "\\r\\n35693803564380\\r\\n\\r\\nOK\\r\\n", 5, "untouched"},
                      ImeiCase{"NoOk", "\\r\\n356938035643809\\r\\n\\r\\nERROR\\r\\n", 4, "untouched"},
                      ImeiCase{"OkAndError", "\\r\\n356938035643809\\r\\n\\r\\nOK\\r\\nERROR\\r\\n", 4,
                               "untouched"},
                      ImeiCase{"LowerCaseOk", "\\r\\n356938035643809\\r\\n\\r\\nok\\r\\n", 0, "356938035643809"},
                      // A platform device id that is no 15-digit IMEI is not copied: the modem is asked.
                      ImeiCase{"PlatformIdOf100Digits", kModemImei, 0, "356938035643809", std::string(100, '7')},
                      ImeiCase{"PlatformIdOf14Digits", kModemImei, 0, "356938035643809", "35693803564380"},
                      ImeiCase{"PlatformIdWithALetter", kModemImei, 0, "356938035643809", "35693803564380X"},
                      // The modem's firmware reports the same overlong id: nothing is written.
                      ImeiCase{"PlatformAndModemIdOf400Digits", nullptr, 5, "untouched", std::string(400, '4')}),
    [](const ::testing::TestParamInfo<ImeiCase>& p) { return std::string(p.param.name); });

// A clear that cannot complete changes nothing: when the bridge cannot read the modem's tables,
// which every table write needs, it fails before the switches, the profile or a table move.
TEST_F(SwitchesTest, BridgeClearWhoseTableReadFailsSendsNothing) {
  const struct {
    const char* modem;
    std::uint32_t type;
    const char* fault;
  } cases[] = {{"", krill::kTypeOsprey, "fail=nvm:query=0x80004005"},
               {"", krill::kTypeOsprey, "drop=nvm:query"},
               {"[module]\nfamily=kestrel\n", krill::kTypeKestrel, "fail=nvm:query=0x80004005"}};
  const fs::path item = dir_.path() / "modem" / "nvm" / "103d0000.bin";
  const fs::path registry = dir_.path() / "registry.reg";
  auto contents = [](const fs::path& p) { return fs::exists(p) ? ReadFile(p) : std::string("(none)"); };
  for (const auto& c : cases) {
    Identify(std::string(c.modem) + "[faults]\n" + c.fault + "\n", c.type);
    const std::string item_before = contents(item), registry_before = contents(registry);
    EXPECT_EQ(3, set_BodySarClear()) << c.fault;
    EXPECT_TRUE(DirectTexts().empty()) << c.fault;  // no set request on any service
    EXPECT_EQ(item_before, contents(item)) << c.fault;
    EXPECT_EQ(registry_before, contents(registry)) << c.fault;
  }
}

// ---- End to end --------------------------------------------------------------------------------

#if defined(KRILL_CLIENT)
class ClientTest : public ::testing::Test {
 protected:
  enum class Bridge { kNone, kReal, kFake };
  void Place(Bridge bridge) {
    fs::create_directories(host_);
    fs::copy_file(KRILL_CLIENT, host_ / "krill_client");
    fs::copy_file(KRILL_LIBRARY, host_ / fs::path(KRILL_LIBRARY).filename());
    if (bridge == Bridge::kReal) fs::copy_file(fs::path(TXL_BIN_DIR) / "VexelSarDll.so", host_ / "VexelSarDll.so");
    if (bridge == Bridge::kFake) fs::copy_file(FAKE_BRIDGE, host_ / "VexelSarDll.so");
    WriteFile(host_ / "fbconfig.ini", "[BASE_CONFIG]\nLOG_LV=2\n");
  }
  // Runs the client with the calls; its printed lines (the bridge's console lines left out).
  std::vector<std::string> Run(const std::string& calls, const std::string& env = "") {
    const fs::path out = dir_.path() / "out.txt";
    const std::string cmd = "cd / && env TXL_MACHINE_DIR='" + (dir_.path() / "machine").string() +
                            "' FAKE_BRIDGE_LOG='" + FakeLog().string() + "' " + env + " '" +
                            (host_ / "krill_client").string() + "' " + calls + " > '" + out.string() + "' 2>/dev/null";
    const int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
    std::vector<std::string> lines;
    for (const auto& line : Lines(ReadFile(out)))
      if (std::regex_search(line, std::regex(R"(^[a-z-]+(=-?\d+)? -> )"))) lines.push_back(line);
    return lines;
  }
  fs::path FakeLog() const { return dir_.path() / "bridge.txt"; }
  std::string ApiLog() const { return ReadFile(host_ / "UpdateDebugLog.log"); }

  TempDir dir_;
  fs::path host_ = dir_.path() / "host";
};

TEST_F(ClientTest, BesideTheRealBridge) {
  Place(Bridge::kReal);
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 1", "set-mode=1 -> 0", "get-mode -> 0 1", "clear -> 0",
                                      "get-enable -> 0 1", "get-mode -> 0 0", "get-profile -> 0 1",
                                      "imei -> 0 356938035643809"}),
            Run("ready set-mode=1 get-mode clear get-enable get-mode get-profile imei"));
  const std::string log = ApiLog();
  EXPECT_NE(log.find("[Information]get_IsMBIMReadyV2Ex-vexelAtSendFun-OK-WOutIno=OK-len=2."), std::string::npos);
  EXPECT_NE(log.find("[Information]set_BodySarClearV2Ex-vexelAtSendFun-strATTable1Value-OK-pResponseBuffer=OK-len=2."),
            std::string::npos);
  EXPECT_NE(log.find("[Information]get_BodySarModeV2Ex-vexelAtSendFun-OK-pResponseBuffer=1-len=1."),
            std::string::npos);
}

TEST_F(ClientTest, WithoutTheBridgeEveryCallLogsTheLoadFailure) {
  Place(Bridge::kNone);
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 0", "set-enable=1 -> 2", "get-on -> 2 -7"}),
            Run("ready set-enable=1 get-on"));
  const std::string log = ApiLog();
  std::size_t failures = 0;
  for (auto at = log.find("NULL == dllHandle ErrorCode ="); at != std::string::npos;
       at = log.find("NULL == dllHandle ErrorCode =", at + 1))
    ++failures;
  EXPECT_EQ(3u, failures) << log;
  EXPECT_NE(log.find("dllpath=" + (host_ / "VexelSarDll.so").string()), std::string::npos) << log;
  EXPECT_NE(log.find("[Information] set_BodySarEnable SUCESS !=IsMsSarInterface bRet=0 -ulRetValue=2."),
            std::string::npos);
}

TEST_F(ClientTest, ProbeFailureGivesThreeToEveryOperation) {
  Place(Bridge::kFake);
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 0", "set-enable=1 -> 3", "get-on -> 3 -7"}),
            Run("ready set-enable=1 get-on", "FAKE_BRIDGE_PROBE=0x80004005"));
  EXPECT_EQ((std::vector<std::string>{"at\\r\\n", "at\\r\\n", "at\\r\\n"}), Lines(ReadFile(FakeLog())));
}

TEST_F(ClientTest, BridgeRepliesAreReadAsNumbers) {
  Place(Bridge::kFake);
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 1", "get-profile -> 0 2", "get-on -> 0 2"}),
            Run("ready get-profile get-on", "FAKE_BRIDGE_REPLY=2"));
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 1", "get-mode -> 0 0", "get-enable -> 0 0"}),
            Run("ready get-mode get-enable", "FAKE_BRIDGE_REPLY=none"));
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 1", "get-mode -> 3 -7", "set-mode=1 -> 3"}),
            Run("ready get-mode set-mode=1", "FAKE_BRIDGE_FAIL_ON=AT+BODYSARMODE"));
}

TEST_F(ClientTest, ClearStopsAtTheFirstTableWriteAndPutsTheProfileBack) {
  Place(Bridge::kFake);
  // Every answer but the failing one is "2": the profile selected before the clear.
  EXPECT_EQ((std::vector<std::string>{"ready -> 0 1", "clear -> 3"}),
            Run("ready clear", "FAKE_BRIDGE_FAIL_ON=at+bodysar= FAKE_BRIDGE_REPLY=2"));
  EXPECT_EQ((std::vector<std::string>{"at\\r\\n", "at\\r\\n", "AT+BODYSAR?\\r\\n", "AT+BODYSARPROFILE?\\r\\n",
                                      "AT+BODYSARPROFILE = 1\\r\\n", "AT+BODYSARPROFILE = 0\\r\\n",
                                      "AT+BODYSAREN = 1\\r\\n", "AT+BODYSARMODE = 0\\r\\n", "at+bodysar=\\r\\n",
                                      "AT+BODYSARPROFILE = 2\\r\\n"}),
            Lines(ReadFile(FakeLog())));
  EXPECT_NE(ApiLog().find("[Information]set_BodySarClearV2Ex-vexelAtSendFun-strATTable0Value-fail-ErrorCode="),
            std::string::npos);
}

TEST_F(ClientTest, ClearReadsTheModemsTablesFirst) {
  Place(Bridge::kFake);
  const struct {
    const char* family;
    const char* token;
  } families[] = {{"kestrel", "KestrelVexelAtSendFun"}, {"osprey", "vexelAtSendFun"}};
  for (const auto& f : families) {
    fs::remove(FakeLog());
    WriteFile(dir_.path() / "machine" / "modem" / "modem.ini", std::string("[module]\nfamily=") + f.family + "\n");
    EXPECT_EQ((std::vector<std::string>{"ready -> 0 1", "clear -> 3"}),
              Run("ready clear", "FAKE_BRIDGE_FAIL_ON=AT+BODYSAR?"))
        << f.family;
    // A failed read sends none of the six commands.
    EXPECT_EQ((std::vector<std::string>{"at\\r\\n", "at\\r\\n", "AT+BODYSAR?\\r\\n"}), Lines(ReadFile(FakeLog())))
        << f.family;
    EXPECT_NE(ApiLog().find(std::string("[Information]set_BodySarClearV2Ex-") + f.token +
                            "-strATTableRead-fail-ErrorCode="),
              std::string::npos)
        << f.family;
  }
}
#endif

}  // namespace
