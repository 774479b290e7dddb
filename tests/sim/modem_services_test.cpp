// The MS SAR control service and the vendor AT tunnel with its firmware: answers compared byte for
// byte with what the bridge expects, state shared across service instances and processes' views.
#include <chrono>
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

// Little-endian 32-bit words, as the MS SAR messages are made of.
Bytes Words(std::initializer_list<std::uint32_t> words) {
  Bytes out;
  for (std::uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return out;
}

// Mode, status, Wi-Fi integration (1: none), ElementCount, the pair, antenna 0 at back-off index 1.
const Bytes kFactoryAnswer = Words({1, 1, 1, 1, 24, 8, 0, 1});

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
  Bytes stored;  // empty: the request itself
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
  EXPECT_EQ(c.stored.empty() ? c.request : c.stored, FileBytes(StateFile()));
}

// Antennas a set does not name keep their index; the answer lists every antenna in order, its
// pairs counted from the start of the answer.
INSTANTIATE_TEST_SUITE_P(
    Requests, MsSarSetTest,
    ::testing::Values(
        SetCase{"OneElement", Words({1, 1, 1, 20, 8, /*antenna*/ 0, /*index*/ 3}), Words({1, 1, 1, 1, 24, 8, 0, 3}), {}},
        SetCase{"BackOffOffDeviceMode", Words({0, 0, 1, 20, 8, 0, 0}), Words({0, 0, 1, 1, 24, 8, 0, 0}), {}},
        SetCase{"TwoMoreAntennas", Words({1, 1, 2, 28, 8, 36, 8, 2, 4, 1, 2}),
                Words({1, 1, 1, 3, 40, 8, 48, 8, 56, 8, 0, 1, 1, 2, 2, 4}),
                Words({1, 1, 3, 36, 8, 44, 8, 52, 8, 0, 1, 1, 2, 2, 4})},
        SetCase{"PairsInAnotherOrder", Words({1, 1, 2, 36, 8, 28, 8, 0, 7, 3, 9}),
                Words({1, 1, 1, 2, 32, 8, 40, 8, 0, 7, 3, 9}), Words({1, 1, 2, 28, 8, 36, 8, 0, 7, 3, 9})},
        SetCase{"NoElementChangesModeAndStatusOnly", Words({0, 1, 0}), Words({0, 1, 1, 1, 24, 8, 0, 1}),
                Words({0, 1, 1, 20, 8, 0, 1})}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MsSarTest, RefusedSetsStoreNothing) {
  const Bytes good = Words({1, 1, 1, 20, 8, 0, 3});
  Bytes longer = good;
  longer.push_back(0);
  const struct {
    const char* name;
    std::uint32_t cid;
    Bytes request;
    plat::HRESULT status;
  } cases[] = {
      {"empty", 1, {}, kBad},
      {"short", 1, Bytes(good.begin(), good.end() - 1), kBad},
      {"long", 1, longer, kBad},
      {"count beyond the request", 1, Words({1, 1, 0xFFFFFFFF, 20, 8, 0, 3}), kBad},
      {"state of another size", 1, Words({1, 1, 1, 20, 4, 0, 3}), kBad},
      {"pair pointing into the pairs", 1, Words({1, 1, 1, 12, 8, 0, 3}), kBad},
      {"pair pointing past the end", 1, Words({1, 1, 1, 24, 8, 0, 3}), kBad},
      {"antenna named twice", 1, Words({1, 1, 2, 28, 8, 36, 8, 1, 1, 1, 2}), kBad},
      {"ninth antenna", 1,
       Words({1, 1, 8, 76, 8, 84, 8, 92, 8, 100, 8, 108, 8, 116, 8, 124, 8, 132, 8,
              1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0}),
       kBad},
      {"notification 2", 2, Words({2, 3}), kBad},
      {"hysteresis 0", 2, Words({1, 0}), kBad},
      {"hysteresis 6", 2, Words({1, 6}), kBad},
      {"transmission setting cut short", 2, Bytes(7, 0), kBad},
      {"other command", 3, good, kNoCommand},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto reply = Service().Set(c.cid, c.request);
    EXPECT_EQ(c.status, reply.status);
    EXPECT_FALSE(reply.has_payload);
    EXPECT_FALSE(std::filesystem::exists(StateFile()));
    EXPECT_FALSE(std::filesystem::exists(dir() / "modem" / "ms_sar_tx.bin"));
    EXPECT_EQ(kFactoryAnswer, Service().Query(1, {}).payload);
  }
  EXPECT_EQ(kNoCommand, Service().Query(3, {}).status);
}

// The transmission status: notification and hysteresis as last set; active while a write of the
// NVM or of the configuration is younger than the hysteresis.
TEST_F(MsSarTest, TransmissionStatusFollowsTheWrites) {
  EXPECT_EQ(Words({0, 0, 5}), Service().Query(2, {}).payload);  // never written: inactive
  const auto set = Service().Set(2, Words({1, 3}));
  ASSERT_EQ(plat::S_OK, set.status);
  EXPECT_EQ(Words({1, 0, 3}), set.payload);
  EXPECT_EQ(Words({1, 3}), FileBytes(dir() / "modem" / "ms_sar_tx.bin"));

  const auto stamp = [](const std::filesystem::path& p, std::chrono::seconds from_now) {
    std::filesystem::last_write_time(p, std::filesystem::file_time_type::clock::now() + from_now);
  };
  ASSERT_EQ(plat::S_OK, Service().Set(1, Words({1, 1, 1, 20, 8, 0, 0})).status);
  // Stamped a little ahead of the clock, so that a slow run cannot outlast the scaled window.
  stamp(StateFile(), std::chrono::seconds(5));
  EXPECT_EQ(Words({1, 1, 3}), Service().Query(2, {}).payload);
  stamp(StateFile(), -std::chrono::hours(1));
  EXPECT_EQ(Words({1, 0, 3}), Service().Query(2, {}).payload);

  std::filesystem::create_directories(dir() / "modem" / "nvm");
  const auto item = dir() / "modem" / "nvm" / "103d0000.bin";
  std::ofstream(item, std::ios::binary) << "x";
  stamp(item, std::chrono::seconds(5));
  EXPECT_EQ(Words({1, 1, 3}), Service().Query(2, {}).payload);
}

TEST_F(MsSarTest, DamagedStateFailsTheQuery) {
  std::filesystem::create_directories(dir() / "modem");
  const struct {
    const char* file;
    std::uint32_t cid;
    Bytes contents;
  } cases[] = {
      {"ms_sar.bin", 1, Bytes{'s', 'h', 'o', 'r', 't'}},
      {"ms_sar.bin", 1, Words({1, 1, 1, 24, 8, 0, 3})},  // its pair points past the end
      {"ms_sar_tx.bin", 2, Words({1})},
      {"ms_sar_tx.bin", 2, Words({1, 9})},  // a hysteresis no set could store
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::ofstream(dir() / "modem" / c.file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(c.contents.data()), static_cast<std::streamsize>(c.contents.size()));
    const auto reply = Service().Query(c.cid, {});
    EXPECT_EQ(kReadFault, reply.status);
    EXPECT_FALSE(reply.has_payload);
    // A set cannot merge into a configuration it cannot read.
    if (c.cid == 1) {
      EXPECT_EQ(kReadFault, Service().Set(1, Words({1, 1, 1, 20, 8, 1, 1})).status);
    }
  }
}

TEST_F(MsSarTest, SetThroughOneManagerIsSeenByAnother) {
  const Bytes request = Words({1, 1, 1, 20, 8, 0, 4});
  const Bytes answer = Words({1, 1, 1, 1, 24, 8, 0, 4});
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
