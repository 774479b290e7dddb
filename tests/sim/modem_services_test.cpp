// The MS SAR control service and the vendor AT tunnel with its firmware: answers compared byte for
// byte with what the bridge expects, state shared across service instances and processes' views.
#include <cstdint>
#include <string>
#include <vector>

#include "services_test_support.h"
#include "sim/services/at_firmware.h"
#include "sim/services/at_tunnel_service.h"
#include "sim/services/ms_sar_service.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr plat::HRESULT kBad = plat::Hr(0x80070057u);
constexpr plat::HRESULT kNoCommand = plat::Hr(0x80004001u);
constexpr plat::HRESULT kReadFault = plat::Hr(0x8007001Eu);

Bytes FileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- MS SAR --------------------------------------------------------------------------------------

class MsSarTest : public SimTest {
 protected:
  sim::services::MsSarService Service() { return sim::services::MsSarService(dir()); }
  std::filesystem::path StateFile() { return dir() / "modem" / "ms_sar.bin"; }
};

const Bytes kFactoryAnswer = {
    1,  0, 0, 0,  // SARMode
    1,  0, 0, 0,  // SARBackOffStatus
    0,  0, 0, 0,  // SARWifiIntegration
    1,  0, 0, 0,  // ElementCount
    24, 0, 0, 0,  // offset of the state
    8,  0, 0, 0,  // its size
    0,  0, 0, 0,  // SAR_AntennaIndex
    1,  0, 0, 0,  // SAR_BackOffIndex
};

TEST_F(MsSarTest, QueryOfAnUntouchedModemAnswersTheFactoryState) {
  for (const Bytes& request : {Bytes{}, Bytes{0xAA, 0xBB}}) {
    const auto reply = Service().Query(1, request);
    EXPECT_EQ(plat::S_OK, reply.status);
    EXPECT_EQ(kFactoryAnswer, reply.payload);
  }
  EXPECT_FALSE(std::filesystem::exists(StateFile()));
}

struct SetCase {
  const char* name;
  Bytes request;
  Bytes answer;
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }

class MsSarSetTest : public MsSarTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(MsSarSetTest, AnswersAndKeepsTheStateForTheNextQuery) {
  const SetCase& c = GetParam();
  const auto set = Service().Set(1, c.request);
  ASSERT_EQ(plat::S_OK, set.status);
  EXPECT_EQ(c.answer, set.payload);
  const auto query = Service().Query(1, {});  // a new instance: the state is the notebook's
  EXPECT_EQ(plat::S_OK, query.status);
  EXPECT_EQ(c.answer, query.payload);
  EXPECT_EQ(c.request, FileBytes(StateFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MsSarSetTest,
    ::testing::Values(
        SetCase{"OneElement",
                {/*mode*/ 1, 0, 0, 0, /*status*/ 1,  0, 0, 0, /*count*/ 1, 0, 0, 0, /*offset*/ 20, 0, 0, 0,
                 /*size*/ 8, 0, 0, 0, /*antenna*/ 0, 0, 0, 0, /*index*/ 3, 0, 0, 0},
                {1,
                 0,
                 0,
                 0,
                 1,
                 0,
                 0,
                 0,
                 /*wifi*/ 0,
                 0,
                 0,
                 0,
                 1,
                 0,
                 0,
                 0,
                 /*pair*/ 24,
                 0,
                 0,
                 0,
                 8,
                 0,
                 0,
                 0,
                 /*antenna*/ 0,
                 0,
                 0,
                 0,
                 /*index*/ 3,
                 0,
                 0,
                 0}},
        SetCase{"BackOffOffDeviceMode",
                {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0},
                {0,  0, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,    1, 0, 0, 0,
                 24, 0, 0, 0, 8, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0}},
        // Every pair points at the one state, which follows the pairs.
        SetCase{"TwoElements",
                {1, 0, 0, 0, 1, 0, 0, 0, /*count*/ 2, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0},
                {1, 0, 0, 0, 1,           0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, /*pair*/ 32, 0, 0, 0,
                 8, 0, 0, 0, /*pair*/ 32, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 2,           0, 0, 0}},
        SetCase{"NoElement",
                {1, 0, 0, 0, 1, 0, 0, 0, /*count*/ 0, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0},
                {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MsSarTest, RefusedSetsStoreNothing) {
  const Bytes good = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0};
  Bytes longer = good;
  longer.push_back(0);
  Bytes huge_count = good;
  huge_count[8] = huge_count[9] = huge_count[10] = huge_count[11] = 0xff;
  const struct {
    const char* name;
    std::uint32_t cid;
    Bytes request;
    plat::HRESULT status;
  } cases[] = {
      {"empty", 1, {}, kBad},
      {"short", 1, Bytes(good.begin(), good.end() - 1), kBad},
      {"long", 1, longer, kBad},
      {"answer too large", 1, huge_count, kBad},
      {"other command", 2, good, kNoCommand},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto reply = Service().Set(c.cid, c.request);
    EXPECT_EQ(c.status, reply.status);
    EXPECT_FALSE(reply.has_payload);
    EXPECT_FALSE(std::filesystem::exists(StateFile()));
    EXPECT_EQ(kFactoryAnswer, Service().Query(1, {}).payload);
  }
  EXPECT_EQ(kNoCommand, Service().Query(2, {}).status);
}

TEST_F(MsSarTest, DamagedStateFailsTheQuery) {
  std::filesystem::create_directories(dir() / "modem");
  std::ofstream(StateFile(), std::ios::binary) << "short";
  const auto reply = Service().Query(1, {});
  EXPECT_EQ(kReadFault, reply.status);
  EXPECT_FALSE(reply.has_payload);
}

TEST_F(MsSarTest, SetThroughOneManagerIsSeenByAnother) {
  const Bytes request = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0};
  const Bytes answer = {1,  0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                        24, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0};
  {
    ServiceClient first(kMsSarId);
    const Delivered d = first.Set(1, request);
    EXPECT_EQ(plat::S_OK, d.status);
    EXPECT_EQ(answer, d.data);
  }
  sim::testing::ResetAll();
  ServiceClient second(kMsSarId);
  const Delivered d = second.Query(1, {});
  EXPECT_EQ(plat::S_OK, d.status);
  EXPECT_EQ(answer, d.data);
}

// ---- AT firmware ---------------------------------------------------------------------------------

struct AtCase {
  const char* name;
  const char* command;
  const char* reply;
};

void PrintTo(const AtCase& c, std::ostream* os) { *os << c.name; }

class AtFirmwareTest : public SimTest, public ::testing::WithParamInterface<AtCase> {};

TEST_P(AtFirmwareTest, RepliesExactly) {
  sim::services::AtFirmware firmware(dir(), sim::DefaultModemConfig(sim::ModemFamily::kOsprey));
  EXPECT_EQ(GetParam().reply, firmware.Execute(GetParam().command));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, AtFirmwareTest,
    ::testing::Values(AtCase{"Attention", "AT\r\n", "\r\nOK\r\n"},                                    //
                      AtCase{"AttentionBare", "AT", "\r\nOK\r\n"},                                    //
                      AtCase{"AttentionLowerCr", "at\r", "\r\nOK\r\n"},                               //
                      AtCase{"AttentionBlank", "at \r\n", "\r\nOK\r\n"},                              //
                      AtCase{"Imei", "AT+CGSN\r\n", "\r\n356938035643809\r\n\r\nOK\r\n"},             //
                      AtCase{"ImeiBareLower", "at+cgsn", "\r\n356938035643809\r\n\r\nOK\r\n"},        //
                      AtCase{"ImeiMixedCase", "At+CgSn\r\n", "\r\n356938035643809\r\n\r\nOK\r\n"},    //
                      AtCase{"ImeiTest", "AT+CGSN=?\r\n", "\r\nOK\r\n"},                              //
                      AtCase{"ImeiWithArgument", "AT+CGSN=1\r\n", "\r\nERROR\r\n"},                   //
                      AtCase{"Manufacturer", "AT+CGMI\r\n", "\r\nSimulated Modem Co\r\n\r\nOK\r\n"},  //
                      AtCase{"Model", "AT+CGMM\r\n", "\r\nOsprey LTE Module\r\n\r\nOK\r\n"},          //
                      AtCase{"Revision", "AT+CGMR\r\n", "\r\n41400.1000.00.04.01.13\r\n\r\nOK\r\n"},  //
                      AtCase{"Unknown", "AT+XYZ\r\n", "\r\nERROR\r\n"},                               //
                      AtCase{"UnknownQuery", "AT+XYZ?\r\n", "\r\nERROR\r\n"},                         //
                      AtCase{"PrefixOfKnown", "AT+CGS\r\n", "\r\nERROR\r\n"},                         //
                      AtCase{"AttentionWithArgument", "AT=1\r\n", "\r\nERROR\r\n"},                   //
                      AtCase{"NotAt", "hello\r\n", "\r\nERROR\r\n"},                                  //
                      AtCase{"OneLetter", "A", "\r\nERROR\r\n"},                                      //
                      AtCase{"Empty", "", "\r\nERROR\r\n"},                                           //
                      AtCase{"OnlyLineEnd", "\r\n", "\r\nERROR\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SimTest, AtFirmwareAnswersTheConfiguredImei) {
  const sim::ModemConfig config = sim::ParseModemConfig("[module]\nfamily=kestrel\nimei=490154203237518\n");
  sim::services::AtFirmware firmware(dir(), config);
  EXPECT_EQ("\r\n490154203237518\r\n\r\nOK\r\n", firmware.Execute("AT+CGSN\r\n"));
}

// ---- AT tunnel -----------------------------------------------------------------------------------

Bytes Padded(const std::string& text, std::uint8_t after_nul = 0) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  b.resize(4096, after_nul);
  return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST_F(SimTest, AtTunnelTakesTheTextUpToTheFirstNul) {
  sim::services::AtTunnelService tunnel(
      std::make_shared<sim::services::AtFirmware>(dir(), sim::DefaultModemConfig(sim::ModemFamily::kOsprey)));
  const struct {
    const char* name;
    Bytes request;
    Bytes reply;
  } cases[] = {
      {"padded", Padded("AT+CGSN\r\n"), Text("\r\n356938035643809\r\n\r\nOK\r\n")},
      {"junk after the NUL", Padded("at\r\n", 'X'), Text("\r\nOK\r\n")},
      {"no NUL at all", Text("AT"), Text("\r\nOK\r\n")},
      {"nothing before the NUL", Padded(""), Text("\r\nERROR\r\n")},
      {"unknown command", Padded("AT+NOPE\r\n"), Text("\r\nERROR\r\n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto reply = tunnel.Set(1, c.request);
    EXPECT_EQ(plat::S_OK, reply.status);  // the modem answered, even if with ERROR
    EXPECT_EQ(c.reply, reply.payload);
  }
  EXPECT_EQ(kNoCommand, tunnel.Set(2, Padded("AT")).status);
  EXPECT_EQ(kNoCommand, tunnel.Query(1, Padded("AT")).status);
}

TEST_F(SimTest, AtTunnelOfAnotherFamilyModemAnswersThroughTheStack) {
  WriteIni("[module]\nfamily=other\nimei=353918051234563\n");
  ServiceClient tunnel(kAtTunnelId);
  const Delivered d = tunnel.Set(1, Padded("AT+CGSN\r\n"));
  EXPECT_EQ(plat::S_OK, d.status);
  EXPECT_EQ(Text("\r\n353918051234563\r\n\r\nOK\r\n"), d.data);
}

}  // namespace
}  // namespace simtest
