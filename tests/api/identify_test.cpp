// Module identification against the simulated notebook, in this process: classification and the
// firmware gate, the present devices when the platform gives no model, the readiness probe
// through the real bridge beside this test program, and get_IsMBIMReady's fallback to the
// library's own channel.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "platform/mbn.h"
#include "platform/sync.h"
#include "sim/testing.h"
#include "tests/bridge/test_support.h"

namespace {

using namespace txltest;

class IdentifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::testing::ResetAll();
    krill::ntype = krill::kTypeUnknown;
    krill::g_ulRetValue = 1;
    krill::g_MoblieBandInfo = {};
    ForgetManager();
  }
  // The notebook's manager object keeps the modem as it was when it was made: a test that changes
  // modem.ini after an identification starts with a new one.
  static void ForgetManager() {
    if (krill::g_InterfaceManager) krill::g_InterfaceManager->Release();
    krill::g_InterfaceManager = nullptr;
  }
  void TearDown() override { sim::testing::ResetAll(); }
  void Modem(const std::string& ini) { WriteFile(machine_.ModemIni(), ini); }

  TempDir dir_;
  MachineDirScope machine_{dir_.path()};
};

struct ClassifyCase {
  const char* name;
  const char* modem_ini;
  std::uint32_t ntype;
  int result;
  unsigned int flag;  // starts at 7: 7 means left alone
};
void PrintTo(const ClassifyCase& c, std::ostream* os) { *os << c.name; }

class ClassifyTest : public IdentifyTest, public ::testing::WithParamInterface<ClassifyCase> {};

TEST_P(ClassifyTest, TypeResultAndFlag) {
  const ClassifyCase& c = GetParam();
  Modem(c.modem_ini);
  unsigned int flag = 7;
  EXPECT_EQ(c.result, krill::get_IsMBIMReadyV2Ex(&flag));
  EXPECT_EQ(c.ntype, krill::ntype);
  EXPECT_EQ(c.flag, flag);
  EXPECT_EQ(c.result, krill::g_ulRetValue);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, ClassifyTest,
    ::testing::Values(
        // The default notebook: sign 01, number 13, and the bridge answers the probe.
        ClassifyCase{"OspreyGateOpen", "", 3, 0, 1},
        ClassifyCase{"OspreyNumber12", "[module]\nfirmware=41400.1000.00.04.01.12\n", 3, 50, 7},
        ClassifyCase{"OspreySign00", "[module]\nfirmware=41400.1000.00.04.00.13\n", 3, 50, 7},
        ClassifyCase{"OspreySign02", "[module]\nfirmware=41400.1000.00.04.02.13\n", 3, 50, 7},
        ClassifyCase{"OspreyNoDot", "[module]\nfirmware=4140001013\n", 3, 50, 7},
        ClassifyCase{"OspreyDotFirst", "[module]\nfirmware=.13\n", 3, 50, 7},
        ClassifyCase{"OspreySingleNine", "[module]\nfirmware=41400.1000.01.9\n", 3, 50, 7},
        ClassifyCase{"OspreyLaterNumber", "[module]\nfirmware=41400.1000.00.04.01.20\n", 3, 0, 1},
        // 5120 in the model: no gate, whatever the firmware says.
        ClassifyCase{"KestrelByModel", "[module]\nfamily=kestrel\nmodel=LTE 5120\nfirmware=x.00.02\n", 2, 0, 1},
        // The firmware rule for Kestrel is tested before any Osprey rule.
        ClassifyCase{"KestrelFirmwareBeatsOspreyModel",
                     "[module]\nfamily=kestrel\nmodel=Osprey look-alike\nfirmware=41200.1000.00.02.10\n", 2, 0, 1},
        ClassifyCase{"OspreyByFirmwareOnly", "[module]\nmodel=LTE\nfirmware=41400.1000.00.04.01.13\n", 3, 0, 1},
        // Model texts are compared with their letter case.
        ClassifyCase{"LowerCaseNameIsNeither", "[module]\nfamily=other\nmodel=osprey\nfirmware=1.2\n", 1, 0, 7},
        ClassifyCase{"Neither", "[module]\nfamily=other\n", 1, 0, 7}),
    [](const ::testing::TestParamInfo<ClassifyCase>& p) { return std::string(p.param.name); });

struct DevicesCase {
  const char* name;
  const char* setupapi;
  const char* model;  // what the model text becomes
  std::uint32_t ntype;
  int result;
  unsigned int flag;
};
void PrintTo(const DevicesCase& c, std::ostream* os) { *os << c.name; }

class DevicesTest : public IdentifyTest, public ::testing::WithParamInterface<DevicesCase> {};

TEST_P(DevicesTest, EmptyModelIsTakenFromThePresentDevices) {
  const DevicesCase& c = GetParam();
  Modem(std::string("[module]\nfamily=other\nmodel=\nfirmware=G.00.01.13\n[setupapi]\n") + c.setupapi);
  unsigned int flag = 7;
  EXPECT_EQ(c.result, krill::get_IsMBIMReadyV2Ex(&flag));
  EXPECT_EQ(c.model, krill::g_MoblieBandInfo.strModem);
  EXPECT_EQ(c.ntype, krill::ntype);
  EXPECT_EQ(c.flag, flag);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DevicesTest,
    ::testing::Values(
        DevicesCase{"NoDevice", "count=0\n", "", 0, 2, 0},
        // None matches: the last one read stands, upper-cased; neither family, no probe.
        DevicesCase{"NoneMatches", "count=2\ndevice0=USB\\VID_0001\ndevice1=pci\\ven_8086&dev_0001\\3&11\n",
                    "PCI\\VEN_8086&DEV_0001\\3&11", 1, 0, 7},
        // The first match ends the scan; the firmware of the default notebook then lets the
        // Osprey bridge answer.
        DevicesCase{"MatchStopsTheScan",
                    "count=3\ndevice0=USB\\VID_0001\ndevice1=pci\\ven_1d5a&dev_5140\\4&aa\ndevice2=ACPI\\PNP0C0A\n",
                    "PCI\\VEN_1D5A&DEV_5140\\4&AA", 3, 0, 1}),
    [](const ::testing::TestParamInfo<DevicesCase>& p) { return std::string(p.param.name); });

TEST_F(IdentifyTest, PlatformTextsAreKeptForLaterCalls) {
  Modem("[module]\nimei=490154203237518\niccid=8901\n");
  unsigned int flag = 0;
  ASSERT_EQ(0, krill::get_IsMBIMReadyV2Ex(&flag));
  EXPECT_EQ("490154203237518", krill::g_MoblieBandInfo.strImeiInfo);
  EXPECT_EQ("41400.1000.00.04.01.13", krill::g_MoblieBandInfo.strFirmwareInfo);
  EXPECT_EQ("Osprey LTE Module", krill::g_MoblieBandInfo.strModem);
  EXPECT_EQ("8901", krill::g_MoblieBandInfo.strSimIccid);
  // Without an interface the texts of the earlier run stay.
  Modem("[module]\ninterfaces=0\n[setupapi]\ncount=0\n");
  ForgetManager();
  krill::GetMobilebandInfo(&krill::g_MoblieBandInfo);
  EXPECT_EQ("490154203237518", krill::g_MoblieBandInfo.strImeiInfo);
}

TEST_F(IdentifyTest, IsMsSarInterfaceTurnsAClosedGateIntoTheDirectRoad) {
  Modem("[module]\nfirmware=41400.1000.00.04.01.12\n");
  unsigned int bRet = 1;
  EXPECT_EQ(0, krill::IsMsSarInterface(&bRet));
  EXPECT_EQ(0u, bRet);
  EXPECT_EQ(50, krill::g_ulRetValue);
}

TEST_F(IdentifyTest, EveryCallIdentifiesAgain) {
  unsigned int flag = 0;
  ASSERT_EQ(0, krill::get_IsMBIMReadyV2Ex(&flag));
  ASSERT_EQ(3u, krill::ntype);
  Modem("[module]\nfamily=other\n");
  ForgetManager();
  EXPECT_EQ(0, krill::get_IsMBIMReadyV2Ex(&flag));
  EXPECT_EQ(1u, krill::ntype);
}

using Clock = std::chrono::steady_clock;

struct FallbackCase {
  const char* name;
  const char* modem_ini;  // the gate is closed in every case
  unsigned int value;
  std::uint32_t ntype;
};
void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }

class FallbackTest : public IdentifyTest, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(FallbackTest, WaitsThenAsksTheOwnChannel) {
  const FallbackCase& c = GetParam();
  Modem(std::string("[module]\nfirmware=41400.1000.00.04.01.12\n") + c.modem_ini);
  unsigned int value = 7;
  const auto start = Clock::now();
  EXPECT_EQ(0, get_IsMBIMReady(&value));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(waited, static_cast<long long>(plat::ScaleMs(10000)));
  EXPECT_EQ(c.value, value);
  EXPECT_EQ(c.ntype, krill::ntype);
}

INSTANTIATE_TEST_SUITE_P(
    Fallback, FallbackTest,
    ::testing::Values(FallbackCase{"DeviceAndChannelAnswer", "", 1, 3},
                      FallbackCase{"KestrelDevice", "[setupapi]\ncount=1\ndevice0=PCI\\VEN_1D5A&DEV_5120\\1\n", 1, 2},
                      FallbackCase{"OtherDevice", "[setupapi]\ncount=1\ndevice0=PCI\\VEN_8086&DEV_0001\\1\n", 1, 1},
                      // The channel carried "AT\r\n" but no device was there to name the module.
                      FallbackCase{"NoDevice", "[setupapi]\ncount=0\n", 0, 0},
                      FallbackCase{"ChannelSilent", "[services]\nat_command=0\n", 0, 0}),
    [](const ::testing::TestParamInfo<FallbackCase>& p) { return std::string(p.param.name); });

TEST_F(IdentifyTest, ReadyWritesZeroForAModuleOfNeitherFamily) {
  Modem("[module]\nfamily=other\n");
  unsigned int value = 7;
  EXPECT_EQ(0, get_IsMBIMReady(&value));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(1u, krill::ntype);
}

TEST_F(IdentifyTest, ReadyWhenTheBridgeAnswers) {
  unsigned int value = 0;
  EXPECT_EQ(0, get_IsMBIMReady(&value));
  EXPECT_EQ(1u, value);
}

TEST_F(IdentifyTest, LeadingNumber) {
  const struct {
    const char* text;
    long number;
  } cases[] = {{"13", 13}, {"9", 9}, {"", 0}, {"x1", 0}, {"2\r\n", 2}, {"12ab", 12}, {"-1", 0}};
  for (const auto& c : cases) EXPECT_EQ(c.number, krill::LeadingNumber(c.text)) << c.text;
}

}  // namespace
