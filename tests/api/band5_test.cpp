// The band-5 work-around against the simulated modem's AT command service: the commands it sends
// and in which order, the band-5 value it copies, where it stops, and the one-time commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/values/band5.h"
#include "sim/testing.h"
#include "tests/bridge/test_support.h"

namespace {

using namespace txltest;

const std::u16string kAtService = u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}";

// The AT texts the library sent to the modem, in order.
std::vector<std::string> SentTexts() {
  std::vector<std::string> texts;
  for (const auto& r : sim::testing::Requests()) {
    if (r.op == "set" && r.service == kAtService) texts.emplace_back(r.data.begin(), r.data.end());
  }
  return texts;
}

const std::string kWorkaround = "at+GTBAND5WA\r\n";
const std::string kSecurity = "at@sec:code_verify(3,{0x37,0x32,0x35,0x31,0x38,0x34,0x36,0x39})\r\n";
const std::vector<std::string> kOneTime = {
    kSecurity,
    "at@nvm:cal_mtpm.mtpm_tx_power_table[0].max_tx_pwr_3g.numOverrideElts = 6\r\n",
    "at@nvm:cal_mtpm.mtpm_tx_power_table[0].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320}\r\n",
    "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.numOverrideElts = 6\r\n",
    "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[5]={6,0,376,320,368,320}\r\n",
};
const std::string kQuery = "AT+BODYSAR?\r\n";
const std::string kStore = "at@nvm:store_nvm_sync(cal_mtpm)\r\n";
std::string PortA(int value) {
  return "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[5].override_portA=" +
         std::to_string(value) + "\r\n";
}

// modem.ini lines that answer every cal_mtpm command "OK" and the read-back with the given text.
std::string Replies(const std::string& readback) {
  return "[at_replies]\nat@nvm:cal_mtpm = \\r\\nOK\\r\\n\nAT+BODYSAR? = " + readback + "\n";
}
const std::string kFourBands =
    R"(\r\n+BODYSAR:\r\n1,200,\"0x1\"\r\n1,190,\"0x2\"\r\n1,205,\"0x8\"\r\n1,220,\"0x10\"\r\n\r\nOK\r\n)";

// A 3G read-back that lists bands 1, 2, 4 and 5, with the given band-5 value text.
std::string ReadBack(const std::string& band5) {
  return R"(\r\n+BODYSAR:\r\n1,1,\"0x1\"\r\n1,2,\"0x2\"\r\n1,3,\"0x8\"\r\n1,)" + band5 + R"(,\"0x10\"\r\n\r\nOK\r\n)";
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class Band5Test : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::testing::ResetAll();
    krill::g_bBand5OneTime = true;
  }
  void TearDown() override {
    sim::testing::ResetAll();
    krill::g_bBand5OneTime = true;
  }
  void Modem(const std::string& ini) { WriteFile(machine_.ModemIni(), "[module]\nfamily=osprey\n" + ini); }

  TempDir dir_;
  MachineDirScope machine_{dir_.path()};
};

struct PlanBCase {
  const char* name;
  std::string ini;
  int result;
  std::vector<std::string> sent;
  bool one_time_left;  // whether the next run would send the one-time commands again
};
void PrintTo(const PlanBCase& c, std::ostream* os) { *os << c.name; }

class PlanBTest : public Band5Test, public ::testing::WithParamInterface<PlanBCase> {};

TEST_P(PlanBTest, ResultCommandsAndOneTimeFlag) {
  const PlanBCase& c = GetParam();
  Modem(c.ini);
  EXPECT_EQ(krill::ATGTBAND5WAPlanB(), c.result);
  EXPECT_EQ(SentTexts(), c.sent);
  EXPECT_EQ(krill::g_bBand5OneTime, c.one_time_left);
}

INSTANTIATE_TEST_SUITE_P(
    Band5, PlanBTest,
    ::testing::Values(
        PlanBCase{"Band5ValueBecomesPortA",
                  Replies(kFourBands),
                  0,
                  Concat({{kWorkaround}, kOneTime, {kQuery, PortA(352), kStore}}),
                  false},
        PlanBCase{"ReadBackWithFewerThanEightCommasStops",
                  Replies(R"(\r\n+BODYSAR:\r\n1,200,\"0x1\"\r\n1,190,\"0x2\"\r\n1,205,\"0x8\"\r\n1,220\r\n\r\nOK\r\n)"),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        PlanBCase{"ReadBackWithoutOkStops",
                  Replies(R"(\r\n+BODYSAR:\r\n1,200,\"0x1\"\r\n1,190,\"0x2\"\r\n1,205,\"0x8\"\r\n1,220,\"0x10\"\r\n)"),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        // A step whose three replies refuse it, or never say "OK", fails with 4 and ends the run.
        PlanBCase{"RefusedStepFailsAfterItsRetries",
                  Replies(kFourBands) + "at+GTBAND5WA = \\r\\nERROR\\r\\n\n",
                  4,
                  {kWorkaround, kWorkaround, kWorkaround},
                  true},
        PlanBCase{"StepWithoutOkFailsAfterItsRetries",
                  Replies(kFourBands) + "at@nvm:store = \\r\\nBUSY\\r\\n\n",
                  4,
                  Concat({{kWorkaround}, kOneTime, {kQuery, PortA(352)}, {kStore, kStore, kStore}}),
                  false},
        PlanBCase{"OneTimeStepHoldingOkAndErrorFails",
                  Replies(kFourBands) + "at@sec:code_verify = \\r\\nOK\\r\\nERROR\\r\\n\n",
                  4,
                  {kWorkaround, kSecurity, kSecurity, kSecurity},
                  true},
        PlanBCase{"ReadBackHoldingErrorStops",
                  Replies(kFourBands + R"(ERROR\r\n)"),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        // Only a plain decimal band-5 value within the 3G limit is copied.
        PlanBCase{"NegativeBand5Value",
                  Replies(ReadBack("-17")),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        PlanBCase{"Band5ValueAboveTheLimit",
                  Replies(ReadBack("236")),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        PlanBCase{"Band5ValueThatWrapsIn32Bits",
                  Replies(ReadBack("4294967516")),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        PlanBCase{"Band5ValueWithAnExponent",
                  Replies(ReadBack("2E2")),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        PlanBCase{"Band5ValueEmpty",
                  Replies(ReadBack("")),
                  5,
                  Concat({{kWorkaround}, kOneTime, {kQuery}}),
                  false},
        PlanBCase{"Band5ValueAtTheLimitIsCopied",
                  Replies(ReadBack("235")),
                  0,
                  Concat({{kWorkaround}, kOneTime, {kQuery, PortA(376), kStore}}),
                  false},
        // Every exchange with the AT service comes back empty: the first step fails with the
        // channel's code after its three attempts.
        PlanBCase{"EmptyRepliesFailTheFirstStep",
                  "[faults]\nempty=at_command:set\n",
                  4,
                  {kWorkaround, kWorkaround, kWorkaround},
                  true}),
    [](const ::testing::TestParamInfo<PlanBCase>& p) { return std::string(p.param.name); });

TEST_F(Band5Test, SecondRunInTheProcessSkipsTheOneTimeCommands) {
  Modem(Replies(kFourBands));
  ASSERT_EQ(krill::ATGTBAND5WAPlanB(), 0);
  sim::testing::ResetAll();
  ASSERT_EQ(krill::ATGTBAND5WAPlanB(), 0);
  EXPECT_EQ(SentTexts(), (std::vector<std::string>{kWorkaround, kQuery, PortA(352), kStore}));
}

TEST_F(Band5Test, OneTimeCommandsThatFailAreTriedAgainNextRun) {
  // A failure among the one-time commands: the security command's reply is empty.
  Modem(Replies(kFourBands) + "at@sec:code_verify =\n");
  ASSERT_EQ(krill::ATGTBAND5WAPlanB(), 4);
  EXPECT_EQ(SentTexts(), (std::vector<std::string>{kWorkaround, kSecurity, kSecurity, kSecurity}));
  EXPECT_TRUE(krill::g_bBand5OneTime);
  Modem(Replies(kFourBands));
  sim::testing::ResetAll();
  ASSERT_EQ(krill::ATGTBAND5WAPlanB(), 0);
  EXPECT_EQ(SentTexts(), Concat({{kWorkaround}, kOneTime, {kQuery, PortA(352), kStore}}));
  EXPECT_FALSE(krill::g_bBand5OneTime);
}

// Against the modem's own firmware: its factory profile 1 holds band 5 at 320 (20.0 dBm), which the
// work-around reads back and writes into the band-6 element's port A.
TEST_F(Band5Test, FactoryModemReportsItsOwnBand5Value) {
  Modem("");
  EXPECT_EQ(krill::ATGTBAND5WAPlanB(), 0);
  const auto sent = SentTexts();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front(), kWorkaround);
  EXPECT_EQ(sent.back(), kStore);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2], PortA(320));
}

}  // namespace
