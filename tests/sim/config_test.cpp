// modem.ini over the embedded default, and the Setup API list.
#include <functional>

#include "platform/text.h"
#include "sim/modem_config.h"
#include "sim/sim.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using sim::ModemConfig;
using sim::ServiceKind;
using sim::ServiceOp;

struct ParseCase {
  const char* name;
  const char* ini;
  std::size_t warnings;
  std::function<void(const ModemConfig&)> check;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, Reads) {
  const ModemConfig cfg = sim::ParseModemConfig(GetParam().ini);
  EXPECT_EQ(GetParam().warnings, cfg.warnings.size()) << ::testing::PrintToString(cfg.warnings);
  GetParam().check(cfg);
}

const sim::OpFault& F(const ModemConfig& c, ServiceKind k, ServiceOp o) { return c.Fault(k, o); }

INSTANTIATE_TEST_SUITE_P(
    ModemIni, ParseTest,
    ::testing::Values(
        ParseCase{"EmptyIsTheOspreyDefault", "", 0,
                  [](const ModemConfig& c) {
                    EXPECT_EQ(sim::ModemFamily::kOsprey, c.family);
                    EXPECT_EQ(1u, c.interfaces);
                    EXPECT_EQ("Osprey LTE Module", c.model);
                    EXPECT_EQ(1, c.ready_state);
                    for (bool present : c.services) EXPECT_TRUE(present);
                    ASSERT_EQ(1u, c.setupapi_devices.size());
                    EXPECT_NE(std::string::npos, c.setupapi_devices[0].find("DEV_5140"));
                  }},
        ParseCase{"FamilyChoosesTheOtherDefaults", "[module]\nfamily=Kestrel\nmodel=Custom\n", 0,
                  [](const ModemConfig& c) {
                    EXPECT_EQ(sim::ModemFamily::kKestrel, c.family);
                    EXPECT_EQ("Custom", c.model);
                    EXPECT_EQ("41200.1000.00.02.10", c.firmware);
                    ASSERT_EQ(1u, c.setupapi_devices.size());
                    EXPECT_NE(std::string::npos, c.setupapi_devices[0].find("DEV_5120"));
                  }},
        ParseCase{"OtherFamilyHasNoSetupApiDevice", "[module]\nfamily=other\n", 0,
                  [](const ModemConfig& c) {
                    EXPECT_EQ("Generic LTE Module", c.model);
                    EXPECT_TRUE(c.setupapi_devices.empty());
                  }},
        ParseCase{"BadValuesKeepTheirDefaults",
                  "[module]\nfamily=falcon\ninterfaces=two\nready_state=9\n[services]\nnvm=maybe\n"
                  "[faults]\nlatency_ms=-5\nget_interfaces=0\n",
                  6,
                  [](const ModemConfig& c) {
                    EXPECT_EQ(sim::ModemFamily::kOsprey, c.family);
                    EXPECT_EQ(1u, c.interfaces);
                    EXPECT_EQ(1, c.ready_state);
                    EXPECT_TRUE(c.HasService(ServiceKind::kNvm));
                    EXPECT_EQ(0u, c.faults.latency_ms);
                    EXPECT_FALSE(c.faults.get_interfaces);
                  }},
        ParseCase{"GarbageLinesAndUnknownKeysAreReportedTheRestStands",
                  "this is not ini\n[module]\ninterfaces=2\ncolour=blue\n[services\n", 3,
                  [](const ModemConfig& c) { EXPECT_EQ(2u, c.interfaces); }},
        ParseCase{"ServicesAbsent", "[services]\nms_sar=0\nat_command=0\n", 0,
                  [](const ModemConfig& c) {
                    EXPECT_FALSE(c.HasService(ServiceKind::kMsSar));
                    EXPECT_TRUE(c.HasService(ServiceKind::kNvm));
                    EXPECT_FALSE(c.HasService(ServiceKind::kAtCommand));
                  }},
        ParseCase{"FaultSelectors",
                  "[faults]\ndrop = nvm:set, MS_SAR:open\nfail=nvm:query=0x80070015,at_tunnel:open\n"
                  "empty=at_command:query\nsession_open=nvm\nrequest_id_mismatch=at_tunnel,ms_sar\n"
                  "latency_ms=250\nget_interfaces=0x8007001F\n",
                  0,
                  [](const ModemConfig& c) {
                    EXPECT_TRUE(F(c, ServiceKind::kNvm, ServiceOp::kSet).drop);
                    EXPECT_TRUE(F(c, ServiceKind::kMsSar, ServiceOp::kOpen).drop);
                    EXPECT_FALSE(F(c, ServiceKind::kNvm, ServiceOp::kQuery).drop);
                    EXPECT_EQ(plat::Hr(0x80070015u), F(c, ServiceKind::kNvm, ServiceOp::kQuery).fail.value_or(0));
                    EXPECT_EQ(plat::E_FAIL, F(c, ServiceKind::kAtTunnel, ServiceOp::kOpen).fail.value_or(0));
                    EXPECT_TRUE(F(c, ServiceKind::kAtCommand, ServiceOp::kQuery).empty);
                    EXPECT_TRUE(c.faults.session_open[sim::Index(ServiceKind::kNvm)]);
                    EXPECT_FALSE(c.faults.session_open[sim::Index(ServiceKind::kMsSar)]);
                    EXPECT_TRUE(c.faults.request_id_mismatch[sim::Index(ServiceKind::kMsSar)]);
                    EXPECT_EQ(250u, c.faults.latency_ms);
                    EXPECT_EQ(plat::Hr(0x8007001Fu), c.faults.get_interfaces.value_or(0));
                  }},
        ParseCase{"BadSelectorsAreSkipped",
                  "[faults]\ndrop=nvm,modem:open,nvm:write,nvm:open\nfail=nvm:set=oops\nempty=nvm:query=0x1\n"
                  "session_open=nvm:open\n",
                  6,
                  [](const ModemConfig& c) {
                    EXPECT_TRUE(F(c, ServiceKind::kNvm, ServiceOp::kOpen).drop);
                    EXPECT_FALSE(F(c, ServiceKind::kNvm, ServiceOp::kSet).fail);
                    EXPECT_FALSE(F(c, ServiceKind::kNvm, ServiceOp::kQuery).empty);
                    EXPECT_FALSE(c.faults.session_open[sim::Index(ServiceKind::kNvm)]);
                  }},
        ParseCase{"SetupApiList", "[setupapi]\ncount=2\ndevice0=USB\\VID_1\ndevice1=PCI\\VEN_2\n", 0,
                  [](const ModemConfig& c) {
                    EXPECT_EQ((std::vector<std::string>{"USB\\VID_1", "PCI\\VEN_2"}), c.setupapi_devices);
                  }},
        ParseCase{"SetupApiCountZero", "[setupapi]\ncount=0\n", 0,
                  [](const ModemConfig& c) { EXPECT_TRUE(c.setupapi_devices.empty()); }},
        ParseCase{"SetupApiWithoutCountRunsToTheFirstGap", "[setupapi]\ndevice0=A\ndevice1=B\ndevice3=D\n", 0,
                  [](const ModemConfig& c) {
                    EXPECT_EQ((std::vector<std::string>{"A", "B"}), c.setupapi_devices);
                  }},
        ParseCase{"SetupApiMissingEntryIsReported", "[setupapi]\ncount=2\ndevice1=B\n", 1,
                  [](const ModemConfig& c) { EXPECT_EQ((std::vector<std::string>{"B"}), c.setupapi_devices); }}),
    [](const auto& p) { return std::string(p.param.name); });

class NotebookTest : public SimTest {};

TEST_F(NotebookTest, ProblemsAreReportedOnStandardError) {
  WriteIni("[module]\ninterfaces=lots\n");
  ::testing::internal::CaptureStderr();
  const ModemConfig cfg = sim::LoadModemConfig(dir());
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(1u, cfg.interfaces);
  EXPECT_NE(std::string::npos, err.find("modem.ini")) << err;
  EXPECT_NE(std::string::npos, err.find("interfaces=lots")) << err;
}

TEST_F(NotebookTest, UnreadableIniLeavesTheDefaultModem) {
  std::filesystem::create_directories(dir() / "modem" / "modem.ini");  // a folder, not a file
  ::testing::internal::CaptureStderr();
  const ModemConfig cfg = sim::LoadModemConfig(dir());
  EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
  EXPECT_EQ("Osprey LTE Module", cfg.model);
  EXPECT_EQ(1u, cfg.interfaces);
}

TEST_F(NotebookTest, SetupApiDevicesFollowTheNotebook) {
  ASSERT_EQ(1u, sim::SetupApiDevices().size());
  EXPECT_NE(std::string::npos, sim::SetupApiDevices()[0].find("VEN_1D5A&DEV_5140"));
  WriteIni("[module]\nfamily=other\n");
  EXPECT_TRUE(sim::SetupApiDevices().empty());
  WriteIni("[module]\nfamily=other\n[setupapi]\ncount=1\ndevice0=PCI\\VEN_1D5A&DEV_5120\n");
  EXPECT_EQ(std::vector<std::string>{"PCI\\VEN_1D5A&DEV_5120"}, sim::SetupApiDevices());
}

}  // namespace
}  // namespace simtest
