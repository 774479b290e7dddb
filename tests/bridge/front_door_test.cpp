// The AT-style entry points against the simulated modem, in this process: validation, routing,
// the switch and value handlers and the bytes they put on the wire.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bridge/front_door/at_interface.h"
#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/mbn/session.h"
#include "bridge/messages/nvm_messages.h"
#include "bridge/messages/records.h"
#include "platform/bytes.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "sim/modem_config.h"
#include "sim/nvm_store.h"
#include "sim/service_model.h"
#include "sim/testing.h"
#include "test_support.h"

namespace {

using namespace txltest;
using Bytes = std::vector<std::uint8_t>;

const std::u16string kMsSar = u"{68223D04-9F6C-4E0F-822D-28441FB72340}";
const std::u16string kNvm = u"{e10ff51b-ac2d-4104-86f6-8d621b430189}";
const std::u16string kTunnel = u"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}";
constexpr std::uint32_t kItem = 0x103d0000;

constexpr int kAbort = static_cast<int>(0x80004004u);
constexpr int kFail = static_cast<int>(0x80004005u);

struct Answer {
  int result;
  std::u16string reply;
  int length;
};

class FrontDoorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vexel::DebugLevel = 1;
    sim::testing::ResetAll();
  }
  void TearDown() override {
    sim::testing::ResetAll();
    vexel::DebugLevel = 2;
  }

  void Configure(const std::string& ini) { WriteFile(machine_.ModemIni(), ini); }

  Answer Send(const std::u16string& command, void* table = nullptr, bool kestrel = false) {
    std::vector<char16_t> out(4096, u'#');
    int length = -1;
    testing::internal::CaptureStdout();
    const int r = kestrel ? AtSendInterfaceSTA(command.c_str(), out.data(), &length, table)
                          : AtSendInterface(command.c_str(), out.data(), &length, table);
    console_ = testing::internal::GetCapturedStdout();
    return Answer{r, std::u16string(out.data()), length};
  }

  std::vector<sim::testing::RecordedRequest> Of(const std::u16string& service, const std::string& op) {
    std::vector<sim::testing::RecordedRequest> out;
    for (const auto& r : sim::testing::Requests())
      if (r.service == service && r.op == op) out.push_back(r);
    return out;
  }
  bool NoModemRequests() { return sim::testing::Requests().empty(); }

  void SetRegistry(const char16_t* name, plat::DWORD value) {
    std::unique_ptr<plat::RegistryKey> key;
    ASSERT_EQ(plat::CreateRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\OEM\\Corvid\\SAR", &key), 0);
    ASSERT_EQ(key->SetDword(name, value), 0);
  }
  std::optional<plat::DWORD> Registry(const char16_t* name) {
    std::unique_ptr<plat::RegistryKey> key;
    if (plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\OEM\\Corvid\\SAR", &key) != 0)
      return std::nullopt;
    plat::DWORD v = 0;
    if (key->QueryDword(name, &v) != 0) return std::nullopt;
    return v;
  }

  // The modem's copy of SarParamItem, read past the bridge.
  Bytes Item(sim::ModemFamily family = sim::ModemFamily::kOsprey) {
    sim::NvmStore store(dir_.path(), family);
    auto item = store.ReadItem(kItem);
    return item ? *item : Bytes{};
  }

  TempDir dir_;
  MachineDirScope machine_{dir_.path()};
  std::string console_;
};

// ---- Validation -----------------------------------------------------------------------------------

struct InvalidCase {
  const char* name;
  std::u16string text;
};
void PrintTo(const InvalidCase& c, std::ostream* os) { *os << c.name; }

class InvalidCommandTest : public FrontDoorTest, public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(InvalidCommandTest, IsRefusedWithoutModemTraffic) {
  const Answer a = Send(GetParam().text);
  EXPECT_EQ(a.result, kAbort);
  EXPECT_EQ(a.reply, u"ERROR");
  EXPECT_EQ(a.length, 5);
  EXPECT_TRUE(NoModemRequests());
}

INSTANTIATE_TEST_SUITE_P(FrontDoor, InvalidCommandTest,
                         ::testing::Values(InvalidCase{"NoLineEnd", u"AT+BODYSAREN=1"},
                                           InvalidCase{"ThreeCharacters", u"at\n"},
                                           InvalidCase{"OnlyLineFeed", u"AT+CGSN\n"},
                                           InvalidCase{"NotAt", u"xt+cgsn\r\n"}, InvalidCase{"Empty", u""}),
                         [](const ::testing::TestParamInfo<InvalidCase>& p) { return std::string(p.param.name); });

TEST_F(FrontDoorTest, InvalidCommandLogNamesTheEntryPointAndLength) {
  const Answer a = Send(u"AT+BODYSAREN=1", nullptr, true);
  EXPECT_EQ(a.result, kAbort);
  EXPECT_NE(console_.find("\tAtSendInterfaceSTA: INVALID command: AT+BODYSAREN=1, strlen: 14\n"), std::string::npos)
      << console_;
  EXPECT_NE(console_.find("outBuffer: ERROR\n"), std::string::npos);
}

// ---- Readiness probe and tunnel -------------------------------------------------------------------

TEST_F(FrontDoorTest, ProbeOpensBothServicesAndAnswersOk) {
  for (const std::u16string& text : {std::u16string(u"AT\r\n"), std::u16string(u"at\r\n")}) {
    sim::testing::ResetAll();
    const Answer a = Send(text);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.reply, u"OK");
    EXPECT_EQ(a.length, 2);
    EXPECT_EQ(Of(kMsSar, "open").size(), 1u);
    EXPECT_EQ(Of(kNvm, "open").size(), 1u);
    EXPECT_EQ(Of(kNvm, "close").size(), 1u);  // disconnected before answering
    // Each service in a connection of its own: the first one's session is closed by the
    // disconnect between the two.
    std::vector<std::pair<std::u16string, std::string>> steps;
    for (const auto& r : sim::testing::Requests()) steps.emplace_back(r.service, r.op);
    EXPECT_EQ(steps, (std::vector<std::pair<std::u16string, std::string>>{
                         {kMsSar, "open"}, {kMsSar, "close"}, {kNvm, "open"}, {kNvm, "close"}}));
  }
}

TEST_F(FrontDoorTest, ProbeFailsWhenAServiceRefusesASession) {
  Configure("[services]\nms_sar=0\n");
  const Answer a = Send(u"AT\r\n");
  EXPECT_EQ(a.result, 50);
  EXPECT_EQ(a.reply, u"ERROR");
}

TEST_F(FrontDoorTest, OtherTextGoesThroughTheTunnelAsReceived) {
  const Answer a = Send(u"AT+CGSN\r\n");
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.reply, u"\r\n356938035643809\r\n\r\nOK\r\n");
  const auto sets = Of(kTunnel, "set");
  ASSERT_EQ(sets.size(), 1u);
  ASSERT_EQ(sets[0].data.size(), 4096u);
  EXPECT_EQ(std::string(sets[0].data.begin(), sets[0].data.begin() + 9), "AT+CGSN\r\n");
  EXPECT_EQ(sets[0].data[9], 0);
}

TEST_F(FrontDoorTest, AtFollowedByABlankIsTunnelledNotProbed) {
  const Answer a = Send(u"at \r\n");
  EXPECT_EQ(Of(kTunnel, "set").size(), 1u);
  EXPECT_TRUE(Of(kMsSar, "open").empty());
  EXPECT_EQ(a.result, 0);
}

TEST_F(FrontDoorTest, TunnelTextTooLongForOneMessageIsRefusedUnsent) {
  const std::u16string text = u"AT+X=" + std::u16string(4100, u'9') + u"\r\n";
  const Answer a = Send(text);
  EXPECT_NE(a.result, 0);
  EXPECT_EQ(a.reply, u"ERROR");
  EXPECT_TRUE(NoModemRequests());
}

TEST_F(FrontDoorTest, EmptyTunnelReplyIsAFailure) {
  class Silent : public sim::ServiceModel {
    sim::ServiceReply Query(std::uint32_t, const Bytes&) override { return {}; }
    sim::ServiceReply Set(std::uint32_t, const Bytes&) override { return {}; }
  };
  sim::testing::SetServiceModel(sim::ServiceKind::kAtTunnel, std::make_shared<Silent>());
  const Answer a = Send(u"AT+CGSN\r\n");
  EXPECT_EQ(a.result, kFail);
  EXPECT_EQ(a.reply, u"ERROR");
}

TEST_F(FrontDoorTest, WithoutAnInterfaceModemCommandsFailAndRegistryCommandsWork) {
  Configure("[module]\ninterfaces=0\n");
  for (const char16_t* text : {u"AT\r\n", u"AT+CGSN\r\n", u"AT+BODYSAREN?\r\n"}) {
    const Answer a = Send(text);
    EXPECT_EQ(a.result, kFail) << plat::Utf16ToUtf8(text);
    EXPECT_EQ(a.reply, u"ERROR");
  }
  EXPECT_EQ(Send(u"AT+BODYSARPROFILE = 0\r\n").result, 0);
  const Answer on = Send(u"AT+BODYSARON?\r\n");
  EXPECT_EQ(on.result, 0);
  EXPECT_EQ(on.reply, u"1");
  const Answer profile = Send(u"AT+BODYSARPROFILE?\r\n");
  EXPECT_EQ(profile.reply, u"0");
  EXPECT_EQ(profile.length, 1);
}

TEST_F(FrontDoorTest, TheFirstOfSeveralInterfacesIsChosen) {
  // More than the bridge lists as well: the selection's own list must not overflow.
  for (const int interfaces : {2, 33, 64}) {
    sim::testing::ResetAll();
    Configure("[module]\ninterfaces=" + std::to_string(interfaces) + "\n");
    EXPECT_EQ(Send(u"AT+BODYSAREN?\r\n").result, 0) << interfaces;
    const auto queries = Of(kNvm, "query");
    ASSERT_EQ(queries.size(), 1u) << interfaces;
    EXPECT_EQ(queries[0].iface, sim::InterfaceId(0)) << interfaces;
  }
}

// Whatever way a command ends, its connection ends with it: nothing stays connected and no
// command session stays open for the next command to inherit.
TEST_F(FrontDoorTest, EveryCommandEndsDisconnected) {
  struct Case {
    const char* ini;
    std::u16string text;
    bool table;  // a power-table record is passed
    bool kestrel;
  };
  const Case cases[] = {
      {"", u"AT\r\n", false, false},
      {"[services]\nnvm=0\n", u"AT\r\n", false, false},                    // the second open fails
      {"[services]\nms_sar=0\n", u"AT\r\n", false, false},                 // the first open fails
      {"", u"AT+CGSN\r\n", false, false},                                    // the tunnel
      {"", u"AT+BODYSAREN = 1\r\n", false, false},
      {"[faults]\nfail=ms_sar:set=0x80070005\n", u"AT+BODYSAREN = 1\r\n", false, false},
      {"", u"AT+BODYSAREN?\r\n", false, false},
      {"", u"at+bodysaren=x\r\n", false, false},                             // no known argument
      {"", u"AT+BODYSARMODE?\r\n", false, false},
      {"", u"AT+BODYSARON = 1\r\n", false, false},
      {"", u"AT+BODYSARON?\r\n", false, false},                              // registry only
      {"[faults]\ndrop=nvm:query\n", u"AT+BODYSAR?\r\n", true, false},       // the read times out
      {"", u"at+bodysar=\r\n", true, false},
      {"[module]\nfamily=kestrel\n", u"at+bodysar=\r\n", true, true},
      {"[module]\nfamily=kestrel\n", u"AT+BODYSAR?\r\n", true, true},
  };
  for (const Case& c : cases) {
    sim::testing::ResetAll();
    Configure(c.ini);
    std::vector<std::uint8_t> record(vexel::MaxTxPwrRecord::kSize);
    Send(c.text, c.table ? record.data() : nullptr, c.kestrel);
    const std::string what = plat::Utf16ToUtf8(c.text) + " with [" + c.ini + "]";
    EXPECT_EQ(vexel::bInterfaceConnected, plat::FALSE) << what;
    EXPECT_FALSE(vexel::g_MbnDeviceServicesContext) << what;
    for (const std::u16string& service : {kMsSar, kNvm, kTunnel})
      EXPECT_FALSE(sim::testing::IsCommandSessionOpen(service)) << what;
  }
}

// ---- Switches ---------------------------------------------------------------------------------------

TEST_F(FrontDoorTest, EnableSendsTheSarConfigurationThenTheFlagByte) {
  const Answer a = Send(u"at+bodysarenable=1\r\n");  // the word spelled out still reaches the handler
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.reply, u"OK");
  const auto config = Of(kMsSar, "set");
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(config[0].data, (Bytes{0x01, 0, 0, 0,  /* SAR_Mode: host */
                                   0x01, 0, 0, 0,  /* backoff_status */
                                   0x01, 0, 0, 0,  /* ElementCount */
                                   0x14, 0, 0, 0,  /* offset 20 */
                                   0x08, 0, 0, 0,  /* size 8 */
                                   0x00, 0, 0, 0,  /* antenna */
                                   0x01, 0, 0, 0 /* back-off index: Body_Sar_ON absent */}));
  const auto writes = Of(kNvm, "set");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data, (Bytes{0x00, 0x00, 0x3D, 0x10, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(Item()[0], 1);
}

TEST_F(FrontDoorTest, EnableOffReappliesTheStoredBackOffState) {
  SetRegistry(u"Body_Sar_ON", 0);
  EXPECT_EQ(Send(u"AT+BODYSAREN = 0\r\n").result, 0);
  const auto config = Of(kMsSar, "set");
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(plat::ReadU32(config[0].data, 4), 0u);   // backoff_status
  EXPECT_EQ(plat::ReadU32(config[0].data, 24), 0u);  // SAR_BackOffIndex
}

TEST_F(FrontDoorTest, FailedSarConfigurationWritesNoFlag) {
  Configure("[faults]\nfail=ms_sar:set=0x80070005\n");
  const Answer a = Send(u"AT+BODYSAREN = 1\r\n");
  EXPECT_EQ(a.result, static_cast<int>(0x80070005u));
  EXPECT_EQ(a.reply, u"ERROR");
  EXPECT_TRUE(Of(kNvm, "set").empty());
}

TEST_F(FrontDoorTest, EnableQueryReadsByteZero) {
  const Answer a = Send(u"AT+BODYSAREN?\r\n");
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.reply, u"0");
  const auto reads = Of(kNvm, "query");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].data, (Bytes{0x00, 0x00, 0x3D, 0x10, /* item */ 0, 0, 0, 0, /* offset */ 1, 0, 0, 0 /* length */}));
}

TEST_F(FrontDoorTest, AnNvmReadWithoutDataAnswersError) {
  class Empty : public sim::ServiceModel {
    sim::ServiceReply Query(std::uint32_t, const Bytes&) override { return sim::ServiceReply{}; }
    sim::ServiceReply Set(std::uint32_t, const Bytes&) override { return sim::ServiceReply{}; }
  };
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, std::make_shared<Empty>());
  const Answer a = Send(u"AT+BODYSAREN?\r\n");
  EXPECT_NE(a.result, 0);
  EXPECT_EQ(a.reply, u"ERROR");
}

TEST_F(FrontDoorTest, ModeWritesAndReadsByteOneWithoutSarConfiguration) {
  EXPECT_EQ(Send(u"AT+BODYSARMODE = 1\r\n").result, 0);
  EXPECT_TRUE(Of(kMsSar, "set").empty());
  const auto writes = Of(kNvm, "set");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data, (Bytes{0x00, 0x00, 0x3D, 0x10, 1, 0, 0, 0, 1, 0, 0, 0, 1}));
  const Answer q = Send(u"AT+BODYSARMODE?\r\n");
  EXPECT_EQ(q.reply, u"1");
  EXPECT_NE(console_.find("mbim_gpio_low_active: 1\n"), std::string::npos);
}

TEST_F(FrontDoorTest, SwitchWithoutAKnownArgumentIsNotSupported) {
  for (const char16_t* text : {u"at+bodysarmode=x\r\n", u"at+bodysaren=x\r\n", u"at+bodysaron=x\r\n",
                               u"at+bodysarprofile=x\r\n"}) {
    const Answer a = Send(text);
    EXPECT_EQ(a.result, 50) << plat::Utf16ToUtf8(text);
    EXPECT_EQ(a.reply, u"ERROR");
  }
  EXPECT_TRUE(Of(kNvm, "set").empty());
}

TEST_F(FrontDoorTest, OnStoresTheIndexAfterASuccessfulConfigurationOnly) {
  EXPECT_FALSE(Registry(u"Body_Sar_ON"));
  EXPECT_EQ(Send(u"AT+BODYSARON = 0\r\n").result, 0);  // creates the missing key
  EXPECT_EQ(Registry(u"Body_Sar_ON"), 0u);
  const auto config = Of(kMsSar, "set");
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(plat::ReadU32(config[0].data, 4), 1u);  // back-off status always enabled
  EXPECT_EQ(plat::ReadU32(config[0].data, 24), 0u);
  sim::testing::ResetAll();
  const Answer q = Send(u"AT+BODYSARON?\r\n");
  EXPECT_EQ(q.reply, u"0");
  EXPECT_TRUE(NoModemRequests());
}

TEST_F(FrontDoorTest, StoredSwitchValuesOfTwoOrMoreReadAsOne) {
  SetRegistry(u"Body_Sar_ON", 7);
  EXPECT_EQ(Send(u"AT+BODYSARON?\r\n").reply, u"1");
  EXPECT_EQ(Send(u"AT+BODYSARPROFILE = 2\r\n").result, 0);
  EXPECT_EQ(Registry(u"Body_Sar_Profile"), 2u);
  EXPECT_EQ(Send(u"AT+BODYSARPROFILE?\r\n").reply, u"1");
}

TEST_F(FrontDoorTest, AnEmptySarConfigurationResponseStillSucceeds) {
  class Mute : public sim::ServiceModel {
    sim::ServiceReply Query(std::uint32_t, const Bytes&) override { return {}; }
    sim::ServiceReply Set(std::uint32_t, const Bytes&) override { return {}; }
  };
  sim::testing::SetServiceModel(sim::ServiceKind::kMsSar, std::make_shared<Mute>());
  const Answer a = Send(u"AT+BODYSARON = 1\r\n");
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.reply, u"OK");
  EXPECT_EQ(Registry(u"Body_Sar_ON"), 1u);
}

// ---- Values -----------------------------------------------------------------------------------------

std::vector<std::uint8_t> OspreyRecord() { return std::vector<std::uint8_t>(vexel::MaxTxPwrRecord::kSize, 0); }

TEST_F(FrontDoorTest, OspreyProfileChoosesTheTableOffset) {
  struct Case {
    std::optional<plat::DWORD> stored;
    std::uint32_t offset;
  };
  for (const Case c : {Case{std::nullopt, 1450}, Case{0, 2}, Case{1, 1450}, Case{2, 1450}}) {
    sim::testing::ResetAll();
    if (c.stored) SetRegistry(u"Body_Sar_Profile", *c.stored);
    auto record = OspreyRecord();
    ASSERT_EQ(Send(u"AT+BODYSAR?\r\n", record.data()).result, 0);
    const auto reads = Of(kNvm, "query");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(plat::ReadU32(reads[0].data, 4), c.offset);
    EXPECT_EQ(plat::ReadU32(reads[0].data, 8), 1448u);
  }
}

TEST_F(FrontDoorTest, OspreyQueryCopiesTheTableBehindTheCallersHeader) {
  auto record = OspreyRecord();
  std::fill(record.begin(), record.begin() + 6, 0xA5);
  const Answer a = Send(u"AT+BODYSAR?\r\n", record.data());
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.reply, u"OK");
  const Bytes item = Item();
  ASSERT_GE(item.size(), 2898u);
  EXPECT_TRUE(std::equal(record.begin() + 6, record.end(), item.begin() + 1450));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(record[i], 0xA5);
  EXPECT_NE(console_.find("max_tx_pwr_4g.numOverrideElts: " + std::to_string(*plat::ReadU16(item, 1450 + 366))),
            std::string::npos)
      << console_;
}

TEST_F(FrontDoorTest, OspreySetChangesOnlyTheCountedElementsAndTheCounts) {
  const Bytes before = Item();
  ASSERT_GE(before.size(), 2898u);
  auto record = OspreyRecord();
  std::uint8_t* image = record.data() + 6;
  std::fill(image, image + 1448, 0xEE);  // what lies beyond the counts must not be taken
  plat::LeWriter table(std::span(image, 1448));
  table.U16(2, 6).U16(366, 45);
  for (int i = 0; i < 6; ++i) table.U16(4 + 12 * i, static_cast<std::uint16_t>(100 + i));
  for (int i = 0; i < 45; ++i) table.U16(368 + 12 * i, static_cast<std::uint16_t>(200 + i));
  ASSERT_TRUE(table.ok());
  const Answer a = Send(u"at+bodysar=\r\n", record.data());
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.reply, u"OK");
  const Bytes after = Item();
  ASSERT_EQ(after.size(), before.size());
  const std::size_t base = 1450;
  for (std::size_t i = 0; i < after.size(); ++i) {
    const std::size_t t = i - base;
    const bool in_table = i >= base && t < 1448;
    const bool changed_3g = in_table && ((t >= 2 && t < 4) || (t >= 4 && t < 4 + 6 * 12));
    const bool changed_4g = in_table && ((t >= 366 && t < 368) || (t >= 368 && t < 368 + 45 * 12));
    if (changed_3g || changed_4g)
      ASSERT_EQ(after[i], image[t]) << "table byte " << t;
    else
      ASSERT_EQ(after[i], before[i]) << "item byte " << i;
  }
  EXPECT_NE(after[base + 0], 0);  // rat and pOverrideFlag are the modem's and survive
  EXPECT_NE(after[base + 365], 0);
}

TEST_F(FrontDoorTest, OspreySetWithZeroCountsKeepsEveryElement) {
  const Bytes before = Item();
  auto record = OspreyRecord();
  ASSERT_EQ(Send(u"AT+BODYSAR=\r\n", record.data()).result, 0);  // "at+bodysar=" in any case
  Bytes expected = before;
  ASSERT_TRUE(plat::LeWriter(expected).U16(1450 + 2, 0).U16(1450 + 366, 0).ok());
  EXPECT_EQ(Item(), expected);
}

TEST_F(FrontDoorTest, OspreySetBeyondTheCapacitiesIsRefusedUnsent) {
  for (const auto& counts : {std::pair<int, int>{31, 0}, std::pair<int, int>{0, 91}}) {
    sim::testing::ResetAll();
    auto record = OspreyRecord();
    plat::LeWriter(record)
        .U16(8, static_cast<std::uint16_t>(counts.first))
        .U16(372, static_cast<std::uint16_t>(counts.second));
    const Answer a = Send(u"at+bodysar=\r\n", record.data());
    EXPECT_NE(a.result, 0);
    EXPECT_EQ(a.reply, u"ERROR");
    EXPECT_TRUE(NoModemRequests());
  }
}

TEST_F(FrontDoorTest, ValueCommandWithoutATableIsRefusedUnsent) {
  for (const char16_t* text : {u"AT+BODYSAR?\r\n", u"at+bodysar=\r\n"}) {
    for (bool kestrel : {false, true}) {
      const Answer a = Send(text, nullptr, kestrel);
      EXPECT_NE(a.result, 0);
      EXPECT_EQ(a.reply, u"ERROR");
    }
  }
  EXPECT_TRUE(NoModemRequests());
}

TEST_F(FrontDoorTest, KestrelQueryFillsTheImageAndLeavesTheCallersHeader) {
  Configure("[module]\nfamily=kestrel\n");
  std::vector<std::uint8_t> record(vexel::ProfilePowerImage::kSize, 0x5A);
  const Answer a = Send(u"AT+BODYSAR?\r\n", record.data(), true);
  EXPECT_EQ(a.result, 0);
  const Bytes item = Item(sim::ModemFamily::kKestrel);
  ASSERT_EQ(item.size(), 626u);
  EXPECT_TRUE(std::equal(item.begin(), item.end(), record.begin() + 4));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(record[i], 0x5A);
  const auto reads = Of(kNvm, "query");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].data, (Bytes{0x00, 0x00, 0x3D, 0x10, 0, 0, 0, 0, 0x72, 0x02, 0, 0}));  // 626 from 0
}

TEST_F(FrontDoorTest, KestrelSetKeepsTheFlagsAndTheHeadsOfTablesOneAndTwo) {
  Configure("[module]\nfamily=kestrel\n");
  const Bytes before = Item(sim::ModemFamily::kKestrel);
  ASSERT_EQ(before.size(), 626u);
  std::vector<std::uint8_t> record(vexel::ProfilePowerImage::kSize);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 7 + 3);
  ASSERT_EQ(Send(u"at+bodysar=\r\n", record.data(), true).result, 0);
  const Bytes after = Item(sim::ModemFamily::kKestrel);
  for (std::size_t i = 0; i < 626; ++i) {
    const bool kept = i < 2 || (i >= 210 && i < 226) || (i >= 418 && i < 434);
    ASSERT_EQ(after[i], kept ? before[i] : record[4 + i]) << "item byte " << i;
  }
}

TEST_F(FrontDoorTest, ValueSetsAreAnnouncedBeforeOrAfterConnectingByFamily) {
  // Osprey checks the caller's counts before it connects; Kestrel connects first.
  for (const bool kestrel : {false, true}) {
    sim::testing::ResetAll();
    Configure(kestrel ? "[module]\nfamily=kestrel\n" : "");
    std::vector<std::uint8_t> record(vexel::MaxTxPwrRecord::kSize);
    ASSERT_EQ(Send(u"at+bodysar=\r\n", record.data(), kestrel).result, 0);
    const auto announced = console_.find("Handle set_BodySarValue()\n");
    const auto connected = console_.find("\tConnectMBIMInterface\n");
    ASSERT_NE(announced, std::string::npos) << console_;
    ASSERT_NE(connected, std::string::npos) << console_;
    EXPECT_EQ(announced < connected, !kestrel) << console_;
  }
}

TEST_F(FrontDoorTest, AValueTextHoldingBothFormsIsASet) {
  auto record = OspreyRecord();
  const Answer a = Send(u"at+bodysar=?\r\n", record.data());
  EXPECT_EQ(Of(kNvm, "set").size(), 1u);
  EXPECT_EQ(a.result, 0);
}

// What an NVM read takes from the modem's response: only data that is there and fits the record.
TEST_F(FrontDoorTest, NvmReadResponsesAreCheckedBeforeAnythingIsCopied) {
  constexpr long kBadResponse = plat::HresultFromWin32(13);  // ERROR_INVALID_DATA
  struct Case {
    const char* why;
    Bytes response;
    std::size_t capacity;  // of the caller's record; 0: a record without storage
    std::uint32_t asked;
    long result;
    Bytes record;  // afterwards, from 0xEE filled
  };
  auto response = [](std::uint32_t size, Bytes data) {
    Bytes r;
    plat::AppendU32(r, kItem);
    plat::AppendU32(r, size);
    r.insert(r.end(), data.begin(), data.end());
    return r;
  };
  const Case cases[] = {
      {"data as claimed", response(2, {0xAA, 0xBB}), 2, 2, 0, {0xAA, 0xBB}},
      {"claims more than it carries", response(4, {0xAA}), 4, 4, kBadResponse, {0xEE, 0xEE, 0xEE, 0xEE}},
      {"more than the record holds", response(3, {1, 2, 3}), 2, 2, kBadResponse, {0xEE, 0xEE}},
      {"shorter than its header", {0, 0, 0x3D, 0x10, 0}, 1, 1, kBadResponse, {0xEE}},
      {"nothing, into a record without storage", response(0, {}), 0, 0, 0, {}},
  };
  for (const Case& c : cases) {
    sim::testing::ResetAll();
    class Fixed : public sim::ServiceModel {
     public:
      explicit Fixed(Bytes payload) : payload_(std::move(payload)) {}
      sim::ServiceReply Query(std::uint32_t, const Bytes&) override { return {plat::S_OK, true, payload_, 0}; }
      sim::ServiceReply Set(std::uint32_t, const Bytes&) override { return {}; }

     private:
      Bytes payload_;
    };
    sim::testing::SetServiceModel(sim::ServiceKind::kNvm, std::make_shared<Fixed>(c.response));
    Bytes record(c.capacity, 0xEE);
    vexel::nvm_read_result result{0, 0, c.capacity ? record.data() : nullptr, c.capacity};
    testing::internal::CaptureStdout();
    long hr = 0;
    {
      vexel::ConnectionScope connection;
      ASSERT_GE(connection.Connect(), 0) << c.why;
      hr = vexel::Query_MBIM_NVM_READ({kItem, 0, c.asked}, &result);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(hr, c.result) << c.why;
    EXPECT_EQ(record, c.record) << c.why;
    if (hr == 0) {
      EXPECT_EQ(result.dataBuffer_size, c.record.size()) << c.why;
    }
  }
}

}  // namespace
