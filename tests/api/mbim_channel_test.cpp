// The library's MBIM command channel against the simulated notebook: SendAtCommand's results
// under the modem's faults, the requests it makes, the sessions it leaves, the process lock
// between two senders, a completion that comes after the caller gave up, and its log lines.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "api/support/global_tools.h"
#include "api/support/mbim/mbim_channel.h"
#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "sim/testing.h"
#include "tests/bridge/test_support.h"

namespace {

using namespace txltest;
using IGlobalTools::IMbimChannel;

constexpr char kImei[] = "490154203237518";
const std::string kCgsnReply = std::string("\r\n") + kImei + "\r\n\r\nOK\r\n";
constexpr char16_t kAtService[] = u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}";

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) hex += plat::Format("%02X", static_cast<unsigned>(c));
  return hex;
}

std::vector<std::string> Ops() {
  std::vector<std::string> ops;
  for (const auto& r : sim::testing::Requests()) ops.push_back(r.op);
  return ops;
}

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class MbimChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Short waits, but long enough for a loaded machine (sanitisers, parallel tests) to complete a
    // prompt request in time: a 5000 ms wait lasts at least 250 ms. Child processes inherit it.
    saved_scale_ = plat::GetEnv("TXL_TIME_SCALE");
    if (plat::TimeScale() < kLeastTimeScale) plat::SetEnv("TXL_TIME_SCALE", "0.05");
    sim::testing::ResetAll();
    plat::SetEnv("TXL_SIM_TRACE", nullptr);
    WriteModem("");
  }
  void TearDown() override {
    sim::testing::ResetAll();
    plat::SetEnv("TXL_SIM_TRACE", nullptr);
    plat::SetEnv("TXL_TIME_SCALE", saved_scale_ ? saved_scale_->c_str() : nullptr);
  }

  // modem.ini with the test's IMEI and the given extra sections.
  void WriteModem(const std::string& extra) {
    WriteFile(machine_.ModemIni(), std::string("[module]\nimei=") + kImei + "\n" + extra);
  }

  // A channel from the library's factory, closed at scope exit.
  struct CloseChannel {
    void operator()(IMbimChannel* c) const {
      if (c) c->Close();
    }
  };
  using Channel = std::unique_ptr<IMbimChannel, CloseChannel>;
  static Channel MakeChannel() {
    void* object = nullptr;
    if (IGlobalTools::CreateToolObject(IGlobalTools::CLSID_CMbimDeviceEx, &object) != 1) return Channel();
    return Channel(static_cast<IMbimChannel*>(object));
  }

  static constexpr double kLeastTimeScale = 0.05;
  std::optional<std::string> saved_scale_;
  TempDir dir_;
  MachineDirScope machine_{dir_.path()};
};

TEST_F(MbimChannelTest, SendAtCommandOpensSetsTheTextAndClosesTheSession) {
  plat::SetEnv("TXL_SIM_TRACE", "1");
  std::string reply = "stale";
  EXPECT_EQ(0, IGlobalTools::SendAtCommand("AT+CGSN\r\n", &reply));
  EXPECT_EQ(kCgsnReply, reply);

  const auto trace = Lines(ReadFile(machine_.Trace()));
  ASSERT_EQ(3u, trace.size()) << ReadFile(machine_.Trace());
  const std::string service = R"("service":"{ffffffff-abca-4b11-a4e2-f2fc87f94488}")";
  EXPECT_EQ(0u, trace[0].find(R"({"op":"open",)")) << trace[0];
  EXPECT_EQ(0u, trace[1].find(R"({"op":"set",)")) << trace[1];
  EXPECT_NE(std::string::npos, trace[1].find(R"("cid":1,"data":")" + Hex("AT+CGSN\r\n") + "\"}")) << trace[1];
  EXPECT_EQ(0u, trace[2].find(R"({"op":"close",)")) << trace[2];
  for (const auto& line : trace) EXPECT_NE(std::string::npos, line.find(service)) << line;
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kAtService));
}

struct FaultCase {
  const char* name;
  const char* modem_ini;  // after [module] imei=…
  int result;
  bool replies;                  // the IMEI reply comes back
  std::vector<std::string> ops;  // the device-service requests, in order
  plat::DWORD waits_ms = 0;      // the least time it takes (before scaling)
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class SendAtFaultTest : public MbimChannelTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SendAtFaultTest, ResultReplyAndRequests) {
  const FaultCase& c = GetParam();
  WriteModem(c.modem_ini);
  std::string reply = "stale";
  const auto start = Clock::now();
  EXPECT_EQ(c.result, IGlobalTools::SendAtCommand("AT+CGSN\r\n", &reply));
  EXPECT_GE(MsSince(start), static_cast<long long>(plat::ScaleMs(c.waits_ms)));
  EXPECT_EQ(c.replies ? kCgsnReply : std::string(), reply);
  EXPECT_EQ(c.ops, Ops());
}

using OpList = std::vector<std::string>;
constexpr plat::DWORD kNoAnswer = IGlobalTools::kResponseWaitMs;
INSTANTIATE_TEST_SUITE_P(
    Faults, SendAtFaultTest,
    ::testing::Values(
        // Used as found, and left open for whoever opened it.
        FaultCase{"SessionFoundOpen", "[faults]\nsession_open=at_command\n", 0, true, OpList{"set"}},
        FaultCase{"CompletionForAnotherRequest", "[faults]\nrequest_id_mismatch=at_command\n", 4, false,
                  OpList{"open", "set", "close"}, kNoAnswer},
        FaultCase{"CommandFails", "[faults]\nfail=at_command:set=0x80004005\n", 4, false,
                  OpList{"open", "set", "close"}},
        FaultCase{"SuccessWithoutPayload", "[faults]\nempty=at_command:set\n", 4, false,
                  OpList{"open", "set", "close"}},
        FaultCase{"AnswerNeverComes", "[faults]\ndrop=at_command:set\n", 4, false, OpList{"open", "set", "close"},
                  kNoAnswer},
        FaultCase{"SessionNeverOpens", "[faults]\ndrop=at_command:open\n", 3, false, OpList{"open"},
                  IGlobalTools::kSessionWaitMs},
        FaultCase{"NoInterface", "interfaces=0\n", 3, false, OpList{}},
        FaultCase{"InterfacesUnavailable", "[faults]\nget_interfaces=0x80004005\n", 3, false, OpList{}},
        FaultCase{"NoAtCommandService", "[services]\nat_command=0\n", 3, false, OpList{}}),
    [](const ::testing::TestParamInfo<FaultCase>& p) { return std::string(p.param.name); });

TEST_F(MbimChannelTest, ThreadInSingleThreadedApartmentCannotOpenTheChannel) {
  int result = -1;
  std::thread sta([&] {
    ASSERT_EQ(plat::S_OK, plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED));
    std::string reply;
    result = IGlobalTools::SendAtCommand("AT+CGSN\r\n", &reply);
    EXPECT_TRUE(reply.empty());
    // The failed Open undid nothing it had not done: the thread is still single-threaded.
    EXPECT_EQ(plat::RPC_E_CHANGED_MODE, plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED));
    plat::CoUninitialize();
  });
  sta.join();
  EXPECT_EQ(2, result);
  EXPECT_TRUE(Ops().empty());
}

TEST_F(MbimChannelTest, ChannelUninitialisesWhatItInitialised) {
  std::thread mta([] {
    {
      auto channel = MakeChannel();
      ASSERT_TRUE(channel);
      ASSERT_EQ(plat::S_OK, channel->Open());
    }
    // Closed: the thread is out of every apartment again.
    EXPECT_EQ(plat::S_OK, plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED));
    plat::CoUninitialize();
  });
  mta.join();
}

TEST_F(MbimChannelTest, ParserReplacesTheReply) {
  struct LengthAndThirdByte final : IGlobalTools::IAtParser {
    void ParseReply(const std::uint8_t* reply, std::size_t length, std::string* out) override {
      *out += "parsed:" + std::to_string(length);
      if (length) *out += static_cast<char>(reply[2]);
    }
    std::string KeepChars(std::string t, std::string) override { return t; }
    std::string RemoveChars(std::string t, std::string) override { return t; }
    std::string HexToDecimal(std::string t) override { return t; }
    void SplitText(std::string, std::string, std::vector<std::string>*) override {}
    std::string TextBetween(std::string t, std::string, std::string) override { return t; }
    void Release() override {}
  } parser;
  auto channel = MakeChannel();
  ASSERT_TRUE(channel);
  ASSERT_EQ(plat::S_OK, channel->Open());
  const std::string text = "AT+CGSN";
  std::string reply;
  ASSERT_EQ(plat::S_OK, channel->ExecuteCmd(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &reply,
                                            &parser, kAtService, IGlobalTools::kAtCommandId));
  EXPECT_EQ("parsed:" + std::to_string(kCgsnReply.size()) + kImei[0], reply);
}

TEST_F(MbimChannelTest, SendAndReceiveNeedTheirSessions) {
  auto channel = MakeChannel();
  ASSERT_TRUE(channel);
  ASSERT_EQ(plat::S_OK, channel->Open());
  const std::string text = "AT+CGSN\r\n";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  std::string reply;
  EXPECT_EQ(plat::E_FAIL, channel->SendData(bytes, text.size(), IGlobalTools::kAtCommandId));
  EXPECT_EQ(plat::E_FAIL, channel->Recvmsg(&reply));
  EXPECT_EQ(plat::E_FAIL, channel->RecvDataMsg(&reply));
  EXPECT_TRUE(Ops().empty());

  ASSERT_EQ(plat::S_OK, channel->OpenCommandSession(kAtService));
  EXPECT_TRUE(sim::testing::IsCommandSessionOpen(kAtService));
  ASSERT_EQ(plat::S_OK, channel->SendData(bytes, text.size(), IGlobalTools::kAtCommandId));
  ASSERT_EQ(plat::S_OK, channel->Recvmsg(&reply));
  EXPECT_EQ(kCgsnReply, reply);
  channel->CloseCommandSession();
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kAtService));

  ASSERT_EQ(plat::S_OK, channel->OpenDataSession(kAtService));
  EXPECT_EQ(channel.get(), channel->CloseDataSession());
  EXPECT_EQ((std::vector<std::string>{"open", "set", "close", "open_data", "close_data"}), Ops());
}

TEST_F(MbimChannelTest, ClosingTheChannelStopsALateCompletionFromHoldingItUp) {
  // The answer comes after the response wait has given up; its callback then waits for a request
  // id that nobody will publish any more.
  struct Late final : sim::ServiceModel {
    sim::ServiceReply Query(std::uint32_t, const std::vector<std::uint8_t>&) override { return {}; }
    sim::ServiceReply Set(std::uint32_t, const std::vector<std::uint8_t>&) override {
      sim::ServiceReply r;
      r.payload = {'l', 'a', 't', 'e'};
      // Half a response wait (as it lasts now) after the wait gave up.
      r.delay_ms = static_cast<std::uint32_t>(
          1.5 * plat::Timeout::RoundTrip(IGlobalTools::kResponseWaitMs).Scaled() / plat::TimeScale());
      return r;
    }
  };
  sim::testing::SetServiceModel(sim::ServiceKind::kAtCommand, std::make_shared<Late>());
  auto channel = MakeChannel();
  ASSERT_TRUE(channel);
  ASSERT_EQ(plat::S_OK, channel->Open());
  const std::string text = "AT+CGSN\r\n";
  std::string reply;
  // The close completion queues behind the late answer, so ExecuteCmd returns only once the late
  // callback is running.
  EXPECT_EQ(plat::S_OK, channel->ExecuteCmd(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &reply,
                                            nullptr, kAtService, IGlobalTools::kAtCommandId));
  EXPECT_TRUE(reply.empty());
  const auto start = Clock::now();
  channel.reset();
  EXPECT_LT(MsSince(start),
            static_cast<long long>(plat::Timeout::RoundTrip(IGlobalTools::kRequestPublishWaitMs).Scaled() / 2));
}

TEST_F(MbimChannelTest, SinkAnswersOnlyForDeviceServicesEvents) {
  auto* sink = new IGlobalTools::CDefaultServiceEvent(nullptr);
  const plat::GUID others[] = {plat::IID_IUnknown, plat::IID_IMbnInterfaceEvents, plat::IID_IConnectionPoint};
  for (const auto& iid : others) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(plat::E_NOINTERFACE, sink->QueryInterface(iid, &out));
    EXPECT_EQ(nullptr, out);
  }
  void* out = nullptr;
  ASSERT_EQ(plat::S_OK, sink->QueryInterface(plat::IID_IMbnDeviceServicesEvents, &out));
  EXPECT_EQ(static_cast<plat::IMbnDeviceServicesEvents*>(sink), out);
  EXPECT_EQ(1u, sink->Release());
  EXPECT_EQ(0u, sink->Release());
}

// The lines a sink writes, for a test to read.
struct RecordingLog final : IGlobalTools::ILog {
  void SetLogFile(const std::string&) override {}
  int WriteLog(int level, const char* format, ...) override {
    std::va_list args;
    va_start(args, format);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    lines.emplace_back(text);
    return level;
  }
  void Release() override {}
  long AddRef() override { return 1; }
  std::vector<std::string> lines;
};

TEST_F(MbimChannelTest, SinkTakesTheBytesOfAReadableByteArrayOnly) {
  const struct {
    const char* name;
    plat::SAFEARRAY* (*array)();
    plat::HRESULT status;
    std::string reply;
    std::string line;  // what the completion says after it has been matched to its request
  } cases[] = {
      {"bytes", [] { return plat::MakeByteArray(reinterpret_cast<const plat::BYTE*>("OK\r\n"), 4); }, plat::S_OK,
       "OK\r\n", "[success] Get At Response Success. Length 4"},
      {"empty array: an empty answer", [] { return plat::MakeByteArray(nullptr, 0); }, plat::S_OK, "",
       "[success] Get At Response Success. Length 0"},
      {"no array: no answer", []() -> plat::SAFEARRAY* { return nullptr; }, plat::S_OK, "",
       "[Fail] Get At Response Success. Length 0"},
      {"array of strings: unreadable",
       [] {
         plat::SAFEARRAYBOUND bound{2, 0};
         return plat::SafeArrayCreate(plat::VT_BSTR, 1, &bound);
       },
       plat::S_OK, "", "[Fail] Get At Response Success. Length 0"},
      {"failed request: its bytes are not taken",
       [] { return plat::MakeByteArray(reinterpret_cast<const plat::BYTE*>("OK"), 2); }, plat::E_FAIL, "",
       "[Fail]OnSetCommandComplete but Fail! Return state 0x80004005"},
  };
  for (const auto& c : cases) {
    RecordingLog log;
    const auto sink = plat::ComPtr<IGlobalTools::CDefaultServiceEvent>::Adopt(
        new IGlobalTools::CDefaultServiceEvent(&log));
    ASSERT_TRUE(sink->Usable());
    plat::UniqueSafeArray array(c.array());
    sink->ResetForCommand();
    sink->PublishRequest(7);
    EXPECT_EQ(plat::S_OK, sink->OnSetCommandComplete(nullptr, 0, array.get(), c.status, 7)) << c.name;
    // Every completion of the request wakes the issuer, with or without an answer.
    std::string reply = "stale";
    EXPECT_EQ(plat::WAIT_OBJECT_0, sink->TakeResponse(&reply)) << c.name;
    EXPECT_EQ(c.reply, reply) << c.name;
    EXPECT_EQ((std::vector<std::string>{"[Success] OnSetCommandComplete called! Request id is 7.", c.line}), log.lines)
        << c.name;
  }
}

// ---- Other processes ---------------------------------------------------------------------------------

class SenderProcessTest : public MbimChannelTest {
 protected:
  // Runs the shell command with the test's notebook; its exit status.
  int Shell(const std::string& command) {
    // Separate commands: an "&" later in `command` must not take the settings into a subshell.
    const std::string cmd = "cd / || exit 99; export TXL_MACHINE_DIR='" + dir_.path().string() + "'; " + command;
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Sender(const fs::path& exe, const std::string& args, const std::string& out) {
    return "'" + exe.string() + "' " + args + " > '" + (dir_.path() / out).string() + "' 2>&1";
  }
};

TEST_F(SenderProcessTest, TwoSendersAreSerialisedByTheProcessLock) {
  // Latency widens every exchange so that two unserialised senders would interleave.
  WriteModem("[faults]\nlatency_ms=1000\n");
  constexpr int kEach = 3;
  const std::string args = "'AT+CGSN\\r\\n' " + std::to_string(kEach);
  ASSERT_EQ(0, Shell("export TXL_SIM_TRACE=1; " + Sender(KRILL_SEND_AT, args, "a.txt") + " & " +
                     Sender(KRILL_SEND_AT, args, "b.txt") + " & wait"));
  for (const char* out : {"a.txt", "b.txt"}) {
    const auto lines = Lines(ReadFile(dir_.path() / out));
    ASSERT_EQ(static_cast<std::size_t>(kEach), lines.size()) << ReadFile(dir_.path() / out);
    for (const auto& line : lines) EXPECT_EQ("0 " + Hex(kCgsnReply), line);
  }
  const auto trace = Lines(ReadFile(machine_.Trace()));
  ASSERT_EQ(static_cast<std::size_t>(2 * kEach * 3), trace.size());
  for (std::size_t i = 0; i < trace.size(); i += 3) {
    EXPECT_EQ(0u, trace[i].find(R"({"op":"open",)")) << i;
    EXPECT_EQ(0u, trace[i + 1].find(R"({"op":"set",)")) << i + 1;
    EXPECT_EQ(0u, trace[i + 2].find(R"({"op":"close",)")) << i + 2;
  }
}

struct LogCase {
  const char* name;
  int level;
  std::vector<std::string> present;
  std::vector<std::string> absent;
};
void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class ChannelLogTest : public SenderProcessTest, public ::testing::WithParamInterface<LogCase> {};

// The sender runs from a folder of its own, so that its fbconfig.ini is nobody else's.
TEST_P(ChannelLogTest, LinesOfTheConfiguredLevelLand) {
  const LogCase& c = GetParam();
  const fs::path host = dir_.path() / "host";
  fs::create_directories(host);
  fs::copy_file(KRILL_SEND_AT, host / "krill_send_at");
  WriteFile(host / "fbconfig.ini", "[BASE_CONFIG]\nLOG_LV=" + std::to_string(c.level) + "\n");
  ASSERT_EQ(0, Shell(Sender(host / "krill_send_at", "'AT+CGSN\\r\\n'", "out.txt")));
  const std::string log =
      ReadFile(dir_.path() / "ProgramData" / "Corvid Kestrel Driver Package" / "logs" / "krill_send_at.log");
  for (const auto& text : c.present) EXPECT_NE(std::string::npos, log.find(text)) << text << "\n" << log;
  for (const auto& text : c.absent) EXPECT_EQ(std::string::npos, log.find(text)) << text << "\n" << log;
}

INSTANTIATE_TEST_SUITE_P(
    Levels, ChannelLogTest,
    ::testing::Values(LogCase{"Information",
                              2,
                              {"[info]OnOpenCommandSessionComplete status=0x0, requestID=",
                               "[Success]OpenCommandSession-Open Session Success\n",
                               "[success] Get At Response Success. Length " + std::to_string(kCgsnReply.size()) + "\n",
                               "CloseCommandSession-done\n"},
                              {}},
                      LogCase{"FailuresOnly",
                              0,
                              {"[info]OnOpenCommandSessionComplete status=0x0, requestID=",
                               "[info]OnCloseCommandSessionComplete status=0x0, requestID="},
                              {"[Success]OpenCommandSession", "CloseCommandSession-done"}}),
    [](const ::testing::TestParamInfo<LogCase>& p) { return std::string(p.param.name); });

}  // namespace
