// The session layer against the simulated modem, in this process.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bridge/log/bridge_log.h"
#include "bridge/mbn/mbn_sinks.h"
#include "bridge/mbn/session.h"
#include "bridge/mbn/session_api.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "sim/service_model.h"
#include "sim/testing.h"
#include "test_support.h"

namespace {

using namespace txltest;

const char16_t kMsSar[] = u"{68223D04-9F6C-4E0F-822D-28441FB72340}";
const char16_t kNvm[] = u"{e10ff51b-ac2d-4104-86f6-8d621b430189}";

constexpr long kTimedOut = static_cast<long>(static_cast<std::int32_t>(0x80070102u));
constexpr long kInsufficientBuffer = static_cast<long>(static_cast<std::int32_t>(0x8007007Au));

// A writable copy of a wide literal, as the exports take unsigned short*.
struct Id {
  explicit Id(const char16_t* text) { std::memcpy(buf, text, (plat::WideLength(text) + 1) * sizeof(char16_t)); }
  unsigned short* get() { return reinterpret_cast<unsigned short*>(buf); }
  char16_t buf[64] = {};
};

// A service whose every answer the test decides.
class ScriptedService : public sim::ServiceModel {
 public:
  std::vector<sim::ServiceReply> replies;  // served in order; the last one repeats
  sim::ServiceReply Next() {
    sim::ServiceReply r = replies.empty() ? sim::ServiceReply{} : replies.front();
    if (replies.size() > 1) replies.erase(replies.begin());
    return r;
  }
  sim::ServiceReply Query(std::uint32_t, const std::vector<std::uint8_t>&) override { return Next(); }
  sim::ServiceReply Set(std::uint32_t, const std::vector<std::uint8_t>&) override { return Next(); }
};

sim::ServiceReply Reply(std::vector<std::uint8_t> payload, std::uint32_t delay_ms = 0) {
  sim::ServiceReply r;
  r.payload = std::move(payload);
  r.delay_ms = delay_ms;
  return r;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vexel::DebugLevel = 1;  // console only: these tests open no log file
    sim::testing::ResetAll();
  }
  void TearDown() override {
    DisconnectInterface();
    sim::testing::ResetAll();
    vexel::DebugLevel = 2;
  }

  void Configure(const std::string& ini) { WriteFile(machine_.ModemIni(), ini); }

  // Enumerates and connects to the first interface.
  void Connect() {
    long count = 0;
    ASSERT_EQ(EnumInterface(&count, ids_), 0);
    ASSERT_GE(count, 1);
    ASSERT_EQ(ConnectInterface(reinterpret_cast<unsigned short*>(ids_[0].InterfaceID)), 0);
  }

  std::vector<sim::testing::RecordedRequest> RequestsOf(const std::string& op) {
    std::vector<sim::testing::RecordedRequest> out;
    for (const auto& r : sim::testing::Requests())
      if (r.op == op) out.push_back(r);
    return out;
  }

  TempDir dir_;
  MachineDirScope machine_{dir_.path()};
  _MBIMIDS ids_[32] = {};
};

TEST_F(SessionTest, EnumeratesTheDefaultInterfaceAsBracedUpperCaseGuid) {
  long count = -1;
  ASSERT_EQ(EnumInterface(&count, ids_), 0);
  ASSERT_EQ(count, 1);
  const std::u16string id(ids_[0].InterfaceID);
  ASSERT_EQ(id.size(), 38u);
  plat::GUID g{};
  EXPECT_TRUE(plat::GuidFromString(id, &g));
  EXPECT_EQ(plat::GuidToString(g), id);  // upper case, braced
}

TEST_F(SessionTest, EnumerationReportsEveryInterfaceInPlatformOrder) {
  Configure("[module]\ninterfaces=3\n");
  long count = 0;
  ASSERT_EQ(EnumInterface(&count, ids_), 0);
  ASSERT_EQ(count, 3);
  EXPECT_NE(std::u16string(ids_[0].InterfaceID), std::u16string(ids_[1].InterfaceID));
  _MBIMIDS again[32] = {};
  ASSERT_EQ(EnumInterface(&count, again), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::u16string(again[i].InterfaceID), std::u16string(ids_[i].InterfaceID));
}

TEST_F(SessionTest, EmptyInterfaceListGivesSuccessAndCountZero) {
  Configure("[module]\ninterfaces=0\n");
  long count = 7;
  EXPECT_EQ(EnumInterface(&count, ids_), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(SessionTest, GetInterfacesFailureIsPassedUp) {
  Configure("[faults]\nget_interfaces=0x80070015\n");
  long count = 7;
  EXPECT_EQ(EnumInterface(&count, ids_), static_cast<long>(static_cast<std::int32_t>(0x80070015u)));
  EXPECT_EQ(count, 0);
}

TEST_F(SessionTest, SecondConnectDoesNothing) {
  Connect();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ConnectInterface(reinterpret_cast<unsigned short*>(ids_[0].InterfaceID)), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ConnectInterface: bInterfaceConnected is already TRUE\n"), std::string::npos) << out;
  EXPECT_TRUE(sim::testing::Requests().empty());
}

TEST_F(SessionTest, ConnectToUnknownInterfaceFailsAndLeavesItDisconnected) {
  Id bogus(u"{00000000-1111-2222-3333-444444444444}");
  EXPECT_LT(ConnectInterface(bogus.get()), 0);
  EXPECT_FALSE(vexel::bInterfaceConnected);
  Id service(kNvm);
  unsigned char out[16];
  unsigned int len = sizeof out;
  EXPECT_EQ(QueryCommand(bogus.get(), service.get(), 1, 0, nullptr, &len, out), 50);
}

TEST_F(SessionTest, RequestsWithoutConnectionAreNotSupported) {
  Id service(kNvm);
  unsigned char out[16] = {};
  unsigned int len = sizeof out;
  EXPECT_EQ(OpenCommandSession(service.get()), 50);
  EXPECT_EQ(QueryCommand(service.get(), service.get(), 1, 0, nullptr, &len, out), 50);
  EXPECT_EQ(SetCommand(service.get(), service.get(), 1, 0, nullptr, &len, out), 50);
  EXPECT_EQ(CloseCommandSession(service.get()), 0);
  EXPECT_EQ(len, sizeof out);
}

TEST_F(SessionTest, QueryReturnsThePayloadAndItsLength) {
  Connect();
  Id service(kNvm);
  // A read of the first four bytes of the SAR parameter item: id, offset, size.
  unsigned char cmd[] = {0x00, 0x00, 0x3D, 0x10, 0, 0, 0, 0, 4, 0, 0, 0};
  const unsigned char answer[] = {0x00, 0x00, 0x3D, 0x10, /*size*/ 4, 0, 0, 0, /*flags*/ 0, 0, /*rat, override*/ 1, 1};
  unsigned char out[64] = {};
  unsigned int len = sizeof out;
  EXPECT_EQ(QueryCommand(reinterpret_cast<unsigned short*>(ids_[0].InterfaceID), service.get(), 1, sizeof cmd, cmd,
                         &len, out),
            0);
  ASSERT_EQ(len, sizeof answer);
  EXPECT_EQ(0, std::memcmp(out, answer, sizeof answer));
  const auto queries = RequestsOf("query");
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_EQ(queries[0].cid, 1u);
  EXPECT_EQ(queries[0].data, std::vector<std::uint8_t>(cmd, cmd + sizeof cmd));
  // The request opened the session itself and left it open.
  EXPECT_EQ(RequestsOf("open").size(), 1u);
  EXPECT_TRUE(sim::testing::IsCommandSessionOpen(kNvm));
}

TEST_F(SessionTest, ZeroLengthQuerySendsNoArrayAndStillWaits) {
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {Reply({0xAB, 0xCD}, 1000)};  // arrives well within the wait
  sim::testing::SetServiceModel(sim::ServiceKind::kMsSar, svc);
  Connect();
  Id service(kMsSar);
  unsigned char junk[] = {1, 2, 3};
  unsigned char out[8] = {};
  unsigned int len = sizeof out;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 5, 0, junk, &len, out), 0);
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xCD);
  const auto queries = RequestsOf("query");
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_FALSE(queries[0].had_array);
  EXPECT_TRUE(queries[0].data.empty());
}

// Completion statuses and payload sizes, and what the caller is left with.
struct CompletionCase {
  const char* name;
  bool set;                 // SetCommand, else QueryCommand
  sim::ServiceReply reply;  // what the modem answers
  unsigned int capacity;    // the caller's buffer
  long expected;
  unsigned int expected_len;  // what *pulResponseLength holds afterwards
  bool buffer_untouched;
};

void PrintTo(const CompletionCase& c, std::ostream* os) { *os << c.name; }

class CompletionTest : public SessionTest, public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(CompletionTest, ResultLengthAndBuffer) {
  const CompletionCase& c = GetParam();
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {c.reply};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  unsigned char cmd[] = {9, 9};
  std::vector<unsigned char> out(c.capacity + 8, 0xEE);
  unsigned int len = c.capacity;
  const long r = c.set ? SetCommand(nullptr, service.get(), 1, sizeof cmd, cmd, &len, out.data())
                       : QueryCommand(nullptr, service.get(), 1, sizeof cmd, cmd, &len, out.data());
  EXPECT_EQ(r, c.expected);
  EXPECT_EQ(len, c.expected_len);
  if (c.buffer_untouched) {
    for (unsigned char b : out) ASSERT_EQ(b, 0xEE);
  } else {
    ASSERT_LE(c.reply.payload.size(), c.capacity);
    EXPECT_EQ(0, std::memcmp(out.data(), c.reply.payload.data(), c.reply.payload.size()));
    EXPECT_EQ(out[c.capacity], 0xEE);  // nothing past the capacity
  }
}

sim::ServiceReply Failed(std::uint32_t status) {
  sim::ServiceReply r;
  r.status = static_cast<plat::HRESULT>(status);
  r.payload = {1, 2, 3};
  return r;
}
sim::ServiceReply NoArray() {
  sim::ServiceReply r;
  r.has_payload = false;
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Session, CompletionTest,
    ::testing::Values(
        CompletionCase{"QueryFits", false, Reply({1, 2, 3, 4}), 4, 0, 4, false},
        CompletionCase{"SetFits", true, Reply({5, 6}), 16, 0, 2, false},
        CompletionCase{"QueryFailedStatusLeavesLength", false, Failed(0x80070005u), 16,
                       static_cast<long>(static_cast<std::int32_t>(0x80070005u)), 16, true},
        CompletionCase{"SetFailedStatusLeavesLength", true, Failed(0x80004005u), 16,
                       static_cast<long>(static_cast<std::int32_t>(0x80004005u)), 16, true},
        CompletionCase{"QueryLargerThanCallerBuffer", false, Reply(std::vector<std::uint8_t>(10, 7)), 9,
                       kInsufficientBuffer, 9, true},
        CompletionCase{"SetLargerThanCallerBuffer", true, Reply(std::vector<std::uint8_t>(10, 7)), 9,
                       kInsufficientBuffer, 9, true},
        CompletionCase{"QueryLargerThanInternalBuffer", false, Reply(std::vector<std::uint8_t>(4097, 7)), 8192,
                       kInsufficientBuffer, 8192, true},
        CompletionCase{"QueryWithoutArraySucceedsEmpty", false, NoArray(), 16, 0, 0, true},
        CompletionCase{"SetWithoutArraySucceedsEmpty", true, NoArray(), 16, 0, 0, true}),
    [](const ::testing::TestParamInfo<CompletionCase>& p) { return std::string(p.param.name); });

TEST_F(SessionTest, MissingCompletionTimesOut) {
  Configure("[faults]\ndrop=nvm:query\n");
  Connect();
  Id service(kNvm);
  unsigned char out[8];
  unsigned int len = sizeof out;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out), kTimedOut);
  EXPECT_EQ(len, sizeof out);
}

TEST_F(SessionTest, LateCompletionDoesNotCompleteTheNextRequest) {
  auto svc = std::make_shared<ScriptedService>();
  // The first answer comes after the 5000 ms wait; the second never within one.
  svc->replies = {Reply({0x11}, 10000), Reply({0x22}, 60000)};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  unsigned char out[8] = {};
  unsigned int len = sizeof out;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out), kTimedOut);
  plat::SleepMs(15000);  // the late completion has now signalled the query event
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out), kTimedOut);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(len, sizeof out);
}

TEST_F(SessionTest, LateSetCompletionNeverWritesIntoTheCallersBuffer) {
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {Reply({0x5A, 0x5A, 0x5A}, 8000)};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  auto out = std::make_unique<unsigned char[]>(8);
  std::memset(out.get(), 0, 8);
  unsigned int len = 8;
  EXPECT_EQ(SetCommand(nullptr, service.get(), 1, 0, nullptr, &len, out.get()), kTimedOut);
  plat::SleepMs(6000);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST_F(SessionTest, SetWithoutLengthPointerSendsNothing) {
  Connect();
  Id service(kNvm);
  unsigned char cmd[] = {1};
  EXPECT_EQ(SetCommand(nullptr, service.get(), 1, sizeof cmd, cmd, nullptr, nullptr),
            static_cast<long>(plat::E_POINTER));
  EXPECT_TRUE(RequestsOf("set").empty());
}

TEST_F(SessionTest, CloseOfASessionThatIsNotOpenSucceeds) {
  Connect();
  Id service(kMsSar);
  EXPECT_NE(CloseCommandSession(service.get()), 0);
  EXPECT_TRUE(RequestsOf("close").empty());
}

TEST_F(SessionTest, FailedOpenCompletionIsTheResultAndRecordsNothing) {
  Configure("[faults]\nfail=ms_sar:open=0x80070490\n");
  Connect();
  Id service(kMsSar);
  EXPECT_EQ(OpenCommandSession(service.get()), static_cast<long>(static_cast<std::int32_t>(0x80070490u)));
  for (const auto& e : vexel::g_SessionTable) EXPECT_FALSE(e.bInUse);
  unsigned int len = 0;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, nullptr), 50);
}

TEST_F(SessionTest, AbsentServiceFailsOpenAndRequests) {
  Configure("[services]\nnvm=0\n");
  Connect();
  Id service(kNvm);
  EXPECT_LT(OpenCommandSession(service.get()), 0);
  unsigned int len = 0;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, nullptr), 50);
  EXPECT_EQ(SetCommand(nullptr, service.get(), 1, 0, nullptr, &len, nullptr), 50);
}

TEST_F(SessionTest, SessionFoundOpenIsUsedAndNotClosedOnDisconnect) {
  Configure("[faults]\nsession_open=ms_sar\n");
  Connect();
  Id service(kMsSar);
  EXPECT_EQ(OpenCommandSession(service.get()), 0);
  unsigned char out[64];  // room for the modem's SAR state
  unsigned int len = sizeof out;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out), 0);
  DisconnectInterface();
  EXPECT_TRUE(RequestsOf("open").empty());
  EXPECT_TRUE(RequestsOf("close").empty());
}

TEST_F(SessionTest, DisconnectClosesTheSessionsThisLibraryOpened) {
  Connect();
  Id a(kMsSar);
  Id b(kNvm);
  ASSERT_EQ(OpenCommandSession(a.get()), 0);
  ASSERT_EQ(OpenCommandSession(b.get()), 0);
  EXPECT_EQ(DisconnectInterface(), 0);
  const auto closes = RequestsOf("close");
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(closes[0].service, std::u16string(kMsSar));  // table order
  EXPECT_EQ(closes[1].service, std::u16string(kNvm));
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kMsSar));
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kNvm));
  EXPECT_FALSE(vexel::bInterfaceConnected);
  EXPECT_FALSE(vexel::g_MbnDeviceServicesContext);
  // Connected again, the table starts empty.
  Connect();
  for (const auto& e : vexel::g_SessionTable) EXPECT_FALSE(e.bInUse);
}

TEST_F(SessionTest, ReopenAfterCloseTakesAFurtherTableEntry) {
  Connect();
  Id a(kMsSar);
  ASSERT_EQ(OpenCommandSession(a.get()), 0);
  ASSERT_NE(CloseCommandSession(a.get()), 0);
  ASSERT_EQ(OpenCommandSession(a.get()), 0);
  EXPECT_TRUE(vexel::g_SessionTable[0].bInUse);
  EXPECT_FALSE(vexel::g_SessionTable[0].bSessionOpen);
  EXPECT_TRUE(vexel::g_SessionTable[1].bInUse);
  EXPECT_TRUE(vexel::g_SessionTable[1].bSessionOpen);
}

TEST_F(SessionTest, CompletionArrivingAfterDisconnectReachesNoSink) {
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {Reply({1}, 7000)};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  unsigned int len = 0;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, nullptr), kTimedOut);
  DisconnectInterface();  // frees the sink
  plat::SleepMs(5000);    // the completion would land now; under the sanitizers a call would be caught
  Connect();              // and the next connection works normally
  unsigned char out[4];
  len = sizeof out;
  svc->replies = {Reply({0x42})};
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out), 0);
  EXPECT_EQ(out[0], 0x42);
}

TEST_F(SessionTest, QueryCompletionIsEchoedToStandardOutputAtEveryLevel) {
  vexel::DebugLevel = 0;
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {Reply({0x0A, 0xFF})};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  unsigned char out[4];
  unsigned int len = sizeof out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out), 0);
  plat::SleepMs(10);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Query command data: 0A FF \n");
}

TEST(WaitResult, TimeOutAndFailureMapping) {
  EXPECT_EQ(vexel::WaitResultToHresult(258), static_cast<plat::HRESULT>(0x80070102u));
  EXPECT_EQ(vexel::WaitResultToHresult(0xFFFFFFFFu), static_cast<plat::HRESULT>(0xFFFFFFFFu));
}

TEST(Sink, AnswersItsEightInterfacesAndNothingElse) {
  vexel::CMbnSinks sink;
  const plat::GUID* iids[] = {&plat::IID_IUnknown,
                              &plat::IID_IMbnRadioEvents,
                              &plat::IID_IMbnRegistrationEvents,
                              &plat::IID_IMbnSignalEvents,
                              &plat::IID_IMbnInterfaceEvents,
                              &plat::IID_IMbnInterfaceManagerEvents,
                              &plat::IID_IMbnConnectionManagerEvents,
                              &plat::IID_IMbnConnectionEvents,
                              &plat::IID_IMbnDeviceServicesEvents};
  std::vector<void*> seen;
  for (const plat::GUID* iid : iids) {
    void* p = nullptr;
    const plat::ULONG before = sink.RefCount();
    ASSERT_EQ(sink.QueryInterface(*iid, &p), plat::S_OK);
    EXPECT_EQ(sink.RefCount(), before + 1);
    seen.push_back(p);
  }
  // IUnknown is the primary table; every interface has a table pointer of its own.
  EXPECT_EQ(seen[0], seen[1]);
  for (std::size_t i = 1; i < seen.size(); ++i)
    for (std::size_t j = i + 1; j < seen.size(); ++j) EXPECT_NE(seen[i], seen[j]);
  EXPECT_EQ(seen[8], static_cast<plat::IMbnDeviceServicesEvents*>(&sink));
  void* p = &sink;
  EXPECT_EQ(sink.QueryInterface(plat::IID_IMbnInterface, &p), plat::E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(sink.QueryInterface(plat::IID_IUnknown, nullptr), plat::E_POINTER);
  const plat::ULONG n = sink.RefCount();
  EXPECT_EQ(sink.Release(), n - 1);  // never deletes; the object is still usable
  EXPECT_EQ(sink.AddRef(), n);
}

}  // namespace
