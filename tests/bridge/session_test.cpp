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
#include "sim/com_object.h"
#include "sim/modem_config.h"
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

// A time in `waits` of the bridge's completion wait as it lasts now, in the unscaled milliseconds a
// reply's delay and SleepMs take: an answer due 1.5 waits after its request comes half a wait
// (a second at the least) after its caller gave up, whatever the time scale.
std::uint32_t Waits(double waits) {
  return static_cast<std::uint32_t>(waits * plat::Timeout::RoundTrip(vexel::g_WaitTimeout).Scaled() / plat::TimeScale());
}

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

// How many interfaces the platform reports, and what the caller's list then holds.
struct EnumerationCase {
  const char* name;
  std::uint32_t interfaces;
  long listed;
};

void PrintTo(const EnumerationCase& c, std::ostream* os) { *os << c.name; }

class EnumerationTest : public SessionTest, public ::testing::WithParamInterface<EnumerationCase> {};

TEST_P(EnumerationTest, ListsThePlatformsInterfacesInItsOrderUpToTheMaximum) {
  const EnumerationCase& c = GetParam();
  Configure("[module]\ninterfaces=" + std::to_string(c.interfaces) + "\n");
  // Room for every interface the simulator can report, so a write past the maximum shows here.
  std::vector<_MBIMIDS> list(80);
  std::memset(list.data(), 0xEE, list.size() * sizeof(_MBIMIDS));
  long count = -1;
  testing::internal::CaptureStdout();
  ASSERT_EQ(EnumInterface(&count, list.data()), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(count, c.listed);
  for (long i = 0; i < count; ++i)
    EXPECT_EQ(std::u16string(list[i].InterfaceID), sim::InterfaceId(static_cast<std::uint32_t>(i))) << i;
  const auto* tail = reinterpret_cast<const unsigned char*>(list.data() + count);
  for (std::size_t b = 0; b < (list.size() - static_cast<std::size_t>(count)) * sizeof(_MBIMIDS); ++b)
    ASSERT_EQ(tail[b], 0xEE) << "byte " << b << " past the listed entries";
  const std::string line =
      "EnumInterface: " + std::to_string(c.interfaces) + " interfaces reported, only the first 32 are listed\n";
  EXPECT_EQ(out.find(line) != std::string::npos, c.interfaces > 32) << out;
  long counted = -1;
  EXPECT_EQ(EnumInterface(&counted, nullptr), 0);  // counting alone stops at the same maximum
  EXPECT_EQ(counted, c.listed);
}

INSTANTIATE_TEST_SUITE_P(Session, EnumerationTest,
                         ::testing::Values(EnumerationCase{"None", 0, 0}, EnumerationCase{"Three", 3, 3},
                                           EnumerationCase{"AsManyAsTheMaximum", 32, 32},
                                           EnumerationCase{"OneMoreThanTheMaximum", 33, 32},
                                           EnumerationCase{"TheSimulatorsMost", 64, 32}),
                         [](const ::testing::TestParamInfo<EnumerationCase>& p) { return std::string(p.param.name); });

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

// The request a table row makes.
enum class Op { kQuery, kSet, kOpen, kClose };

// Completion statuses and payload sizes, and what the caller is left with.
struct CompletionCase {
  const char* name;
  Op op;                    // kOpen: OpenCommandSession alone, no buffer involved
  sim::ServiceReply reply;  // what the modem answers
  unsigned int capacity;    // the caller's buffer
  long expected;
  unsigned int expected_len;  // what *pulResponseLength holds afterwards
  bool buffer_untouched;
  const char* modem_ini = "";
  const char* logged = "";  // a line the request leaves in the log (after its time prefix)
};

void PrintTo(const CompletionCase& c, std::ostream* os) { *os << c.name; }

class CompletionTest : public SessionTest, public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(CompletionTest, ResultLengthAndBuffer) {
  const CompletionCase& c = GetParam();
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {c.reply};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  if (*c.modem_ini) Configure(c.modem_ini);
  Connect();
  Id service(kNvm);
  unsigned char cmd[] = {9, 9};
  std::vector<unsigned char> out(c.capacity + 8, 0xEE);
  unsigned int len = c.capacity;
  long r = 0;
  testing::internal::CaptureStdout();
  if (c.op == Op::kOpen)
    r = OpenCommandSession(service.get());
  else if (c.op == Op::kSet)
    r = SetCommand(nullptr, service.get(), 1, sizeof cmd, cmd, &len, out.data());
  else
    r = QueryCommand(nullptr, service.get(), 1, sizeof cmd, cmd, &len, out.data());
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, c.expected);
  if (*c.logged) {
    EXPECT_NE(log.find(std::string("\t") + c.logged), std::string::npos) << log;
  }
  EXPECT_EQ(len, c.expected_len);
  if (c.buffer_untouched) {
    for (unsigned char b : out) ASSERT_EQ(b, 0xEE);
  } else {
    ASSERT_LE(c.reply.payload.size(), c.capacity);
    EXPECT_EQ(0, std::memcmp(out.data(), c.reply.payload.data(), c.reply.payload.size()));
    EXPECT_EQ(out[c.capacity], 0xEE);  // nothing past the capacity
  }
}

constexpr std::int32_t kNotFoundStatus = static_cast<std::int32_t>(0x80070490u);

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

// The NVM service refuses every command session; the refusal is what the requests log.
const char kRefusedSession[] = "[faults]\nfail=nvm:open=0x80070490\n";
const char kNoNvmService[] = "[services]\nnvm=0\n";

// The modem's completions carry other ids than the requests were given: none is taken.
const char kForeignIds[] = "[faults]\nrequest_id_mismatch=nvm\nsession_open=nvm\n";
const char kForeignOpenId[] = "[faults]\nrequest_id_mismatch=nvm\n";

INSTANTIATE_TEST_SUITE_P(
    Session, CompletionTest,
    ::testing::Values(
        CompletionCase{"QueryFits", Op::kQuery, Reply({1, 2, 3, 4}), 4, 0, 4, false},
        CompletionCase{"SetFits", Op::kSet, Reply({5, 6}), 16, 0, 2, false},
        CompletionCase{"QueryFailedStatusLeavesLength", Op::kQuery, Failed(0x80070005u), 16,
                       static_cast<long>(static_cast<std::int32_t>(0x80070005u)), 16, true},
        CompletionCase{"SetFailedStatusLeavesLength", Op::kSet, Failed(0x80004005u), 16,
                       static_cast<long>(static_cast<std::int32_t>(0x80004005u)), 16, true},
        CompletionCase{"QueryLargerThanCallerBuffer", Op::kQuery, Reply(std::vector<std::uint8_t>(10, 7)), 9,
                       kInsufficientBuffer, 9, true},
        CompletionCase{"SetLargerThanCallerBuffer", Op::kSet, Reply(std::vector<std::uint8_t>(10, 7)), 9,
                       kInsufficientBuffer, 9, true},
        CompletionCase{"QueryLargerThanInternalBuffer", Op::kQuery, Reply(std::vector<std::uint8_t>(4097, 7)), 8192,
                       kInsufficientBuffer, 8192, true},
        CompletionCase{"QueryWithoutArraySucceedsEmpty", Op::kQuery, NoArray(), 16, 0, 0, true},
        CompletionCase{"SetWithoutArraySucceedsEmpty", Op::kSet, NoArray(), 16, 0, 0, true},
        CompletionCase{"QueryCompletedUnderAnotherIdTimesOut", Op::kQuery, Reply({1, 2, 3}), 16, kTimedOut, 16,
                       true, kForeignIds},
        CompletionCase{"SetCompletedUnderAnotherIdTimesOut", Op::kSet, Reply({1, 2, 3}), 16, kTimedOut, 16, true,
                       kForeignIds},
        CompletionCase{"OpenCompletedUnderAnotherIdTimesOut", Op::kOpen, Reply({1, 2, 3}), 16, kTimedOut, 16, true,
                       kForeignOpenId},
        // The lines carry the refusal itself, not whatever error the thread last saw.
        CompletionCase{"OpenRefusedLogsTheStatus", Op::kOpen, Reply({1}), 16, static_cast<long>(kNotFoundStatus), 16,
                       true, kRefusedSession, "OpenCommandSession: g_MbnStatus FAILED: 0x80070490\n"},
        CompletionCase{"QueryWithARefusedSessionLogsTheRefusal", Op::kQuery, Reply({1}), 16, 50, 16, true,
                       kRefusedSession, "QueryCommand: OpenCommandSession FAILED: 0x80070490\n"},
        CompletionCase{"SetWithARefusedSessionLogsTheRefusalUnnamed", Op::kSet, Reply({1}), 16, 50, 16, true,
                       kRefusedSession, "OpenCommandSession FAILED: 0x80070490\n"},
        CompletionCase{"OpenOfAnAbsentServiceLogsTheLookUp", Op::kOpen, Reply({1}), 16,
                       static_cast<long>(kNotFoundStatus), 16, true, kNoNvmService,
                       "OpenCommandSession: GetDeviceService FAILED: 0x80070490\n"},
        CompletionCase{"QueryOfAnAbsentServiceLogsTheLookUp", Op::kQuery, Reply({1}), 16, 50, 16, true, kNoNvmService,
                       "QueryCommand: OpenCommandSession FAILED: 0x80070490\n"},
        CompletionCase{"SetOfAnAbsentServiceLogsTheLookUp", Op::kSet, Reply({1}), 16, 50, 16, true, kNoNvmService,
                       "OpenCommandSession FAILED: 0x80070490\n"}),
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

// Two requests of a kind in a row, the first answered only after it gave up.
struct LateCase {
  const char* name;
  Op op;                                    // kQuery or kSet, both requests
  const char* modem_ini;
  std::vector<sim::ServiceReply> replies;   // the NVM service's answers; none: the modem's own
  std::uint32_t pause_ms;                   // between the two requests
  long second;                              // the second request's result
  std::vector<std::uint8_t> second_answer;  // and what it copies out when it succeeds
};

void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

class LateCompletionTest : public SessionTest, public ::testing::WithParamInterface<LateCase> {};

TEST_P(LateCompletionTest, CompletesOnlyItsOwnRequest) {
  const LateCase& c = GetParam();
  if (!c.replies.empty()) {
    auto svc = std::make_shared<ScriptedService>();
    svc->replies = c.replies;
    sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  }
  if (*c.modem_ini) Configure(c.modem_ini);
  Connect();
  Id service(kNvm);
  // Item 103d0000: the power tables of profiles 0 and 1 (read), flag bytes 0 and 1 (write).
  unsigned char reads[2][12] = {{0x00, 0x00, 0x3D, 0x10, 0x02, 0x00, 0, 0, 0xA8, 0x05, 0, 0},
                                {0x00, 0x00, 0x3D, 0x10, 0xAA, 0x05, 0, 0, 0xA8, 0x05, 0, 0}};
  unsigned char writes[2][13] = {{0x00, 0x00, 0x3D, 0x10, 0, 0, 0, 0, 1, 0, 0, 0, 1},
                                 {0x00, 0x00, 0x3D, 0x10, 1, 0, 0, 0, 1, 0, 0, 0, 1}};
  auto request = [&](int n, unsigned int* len, unsigned char* out) {
    return c.op == Op::kSet ? SetCommand(nullptr, service.get(), 1, sizeof writes[n], writes[n], len, out)
                            : QueryCommand(nullptr, service.get(), 1, sizeof reads[n], reads[n], len, out);
  };
  std::vector<unsigned char> first(4096, 0xEE);
  unsigned int first_len = 4096;
  EXPECT_EQ(request(0, &first_len, first.data()), kTimedOut);
  if (c.pause_ms) plat::SleepMs(c.pause_ms);
  std::vector<unsigned char> second(4096, 0xEE);
  unsigned int second_len = 4096;
  EXPECT_EQ(request(1, &second_len, second.data()), c.second);
  if (c.second == 0) {
    EXPECT_EQ(std::vector<unsigned char>(second.begin(), second.begin() + second_len), c.second_answer);
  } else {
    EXPECT_EQ(second_len, 4096u);
    for (unsigned char b : second) ASSERT_EQ(b, 0xEE);
  }
  EXPECT_EQ(first_len, 4096u);
  for (unsigned char b : first) ASSERT_EQ(b, 0xEE);
  EXPECT_EQ(RequestsOf(c.op == Op::kSet ? "set" : "query").size(), 2u);
  // Every answer still on its way arrives before the notebook is reset, so none is left pending.
  plat::SleepMs(Waits(1.5));
}

INSTANTIATE_TEST_SUITE_P(
    Session, LateCompletionTest,
    ::testing::Values(
        // The second's own answer never comes within its wait.
        LateCase{"QueryAnsweredBetweenTheRequests", Op::kQuery, "", {Reply({0x11}, Waits(1.5)), Reply({0x22}, Waits(1.5))},
                 Waits(1), kTimedOut, {}},
        LateCase{"QueryAnsweredWhileTheNextWaits", Op::kQuery, "", {Reply({0x11}, Waits(1.5)), Reply({0x22}, Waits(1.5))},
                 0, kTimedOut, {}},
        LateCase{"SetAnsweredWhileTheNextWaits", Op::kSet, "", {Reply({0x11}, Waits(1.5)), Reply({0x22}, Waits(1.5))},
                 0, kTimedOut, {}},
        // The second's own answer follows the first's at once, within its wait.
        LateCase{"QueryAfterALateOneGetsItsOwnAnswer", Op::kQuery, "", {Reply({0x11}, Waits(1.5)), Reply({0x22, 0x33})},
                 0, 0, {0x22, 0x33}},
        LateCase{"SetAfterALateOneGetsItsOwnAnswer", Op::kSet, "", {Reply({0x11}, Waits(1.5)), Reply({0x22, 0x33})}, 0,
                 0, {0x22, 0x33}}),
    [](const ::testing::TestParamInfo<LateCase>& p) { return std::string(p.param.name); });

// A device service that completes each request on the caller's thread before the issuing call
// returns the request's id, as a platform may; it stands in for the connected modem's services.
class EagerService final : public sim::ComObject<plat::IMbnDeviceService> {
 public:
  struct Completion {
    plat::ULONG id;
    std::uint32_t status;
    std::vector<std::uint8_t> payload;
  };
  EagerService(bool session_open, std::vector<Completion> early, plat::ULONG id)
      : session_open_(session_open), early_(std::move(early)), id_(id) {}

  plat::HRESULT TXL_STDCALL OpenCommandSession(plat::ULONG* id) override { return Issue(Op::kOpen, id); }
  plat::HRESULT TXL_STDCALL CloseCommandSession(plat::ULONG* id) override { return Issue(Op::kClose, id); }
  plat::HRESULT TXL_STDCALL SetCommand(plat::ULONG, plat::SAFEARRAY*, plat::ULONG* id) override {
    return Issue(Op::kSet, id);
  }
  plat::HRESULT TXL_STDCALL QueryCommand(plat::ULONG, plat::SAFEARRAY*, plat::ULONG* id) override {
    return Issue(Op::kQuery, id);
  }
  plat::HRESULT TXL_STDCALL get_IsCommandSessionOpen(plat::BOOL* value) override {
    *value = session_open_ ? plat::TRUE : plat::FALSE;
    return plat::S_OK;
  }
  plat::HRESULT TXL_STDCALL QuerySupportedCommands(plat::ULONG*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL OpenDataSession(plat::ULONG*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL CloseDataSession(plat::ULONG*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL WriteData(plat::SAFEARRAY*, plat::ULONG*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL get_InterfaceID(plat::BSTR*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL get_DeviceServiceID(plat::BSTR*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL get_IsDataSessionOpen(plat::BOOL*) override { return plat::E_NOTIMPL; }

 private:
  plat::HRESULT Issue(Op op, plat::ULONG* id) {
    plat::IMbnDeviceServicesEvents* sink = vexel::g_CMbnSinks;
    for (const Completion& e : early_) {
      const auto status = static_cast<plat::HRESULT>(e.status);
      plat::UniqueSafeArray data(plat::MakeByteArray(e.payload.data(), static_cast<plat::ULONG>(e.payload.size())));
      if (op == Op::kOpen) sink->OnOpenCommandSessionComplete(this, status, e.id);
      if (op == Op::kClose) sink->OnCloseCommandSessionComplete(this, status, e.id);
      if (op == Op::kQuery) sink->OnQueryCommandComplete(this, 0, data.get(), status, e.id);
      if (op == Op::kSet) sink->OnSetCommandComplete(this, 0, data.get(), status, e.id);
    }
    early_.clear();
    *id = id_;
    return plat::S_OK;
  }

  bool session_open_;
  std::vector<Completion> early_;
  plat::ULONG id_;
};

class EagerContext final : public sim::ComObject<plat::IMbnDeviceServicesContext> {
 public:
  explicit EagerContext(plat::ComPtr<EagerService> service) : service_(std::move(service)) {}
  plat::HRESULT TXL_STDCALL GetDeviceService(plat::BSTR, plat::IMbnDeviceService** out) override {
    return sim::HandOut(service_, out);
  }
  plat::HRESULT TXL_STDCALL EnumerateDeviceServices(plat::SAFEARRAY**) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL get_MaxCommandSize(plat::ULONG*) override { return plat::E_NOTIMPL; }
  plat::HRESULT TXL_STDCALL get_MaxDataSize(plat::ULONG*) override { return plat::E_NOTIMPL; }

 private:
  plat::ComPtr<EagerService> service_;
};

// Completions delivered before the issuing call returned the id of the request (always 7).
struct EarlyCase {
  const char* name;
  Op op;
  std::vector<EagerService::Completion> early;  // in delivery order
  long expected;                                // CloseCommandSession: nonzero on success, else 0
  std::vector<std::uint8_t> answer;             // what a query or set copies out on success
};

void PrintTo(const EarlyCase& c, std::ostream* os) { *os << c.name; }

class EarlyCompletionTest : public SessionTest, public ::testing::WithParamInterface<EarlyCase> {};

TEST_P(EarlyCompletionTest, IsTakenOnlyByTheRequestWhoseIdItCarries) {
  const EarlyCase& c = GetParam();
  Connect();
  const plat::ComPtr<plat::IMbnDeviceServicesContext> modem = vexel::g_MbnDeviceServicesContext;
  auto eager = sim::MakeCom<EagerService>(c.op != Op::kOpen, c.early, 7);
  auto context = sim::MakeCom<EagerContext>(eager);
  vexel::g_MbnDeviceServicesContext = plat::ComPtr<plat::IMbnDeviceServicesContext>::Share(context.get());
  Id service(kNvm);
  std::vector<unsigned char> out(64, 0xEE);
  unsigned int len = 64;
  long r = 0;
  if (c.op == Op::kOpen) r = OpenCommandSession(service.get());
  if (c.op == Op::kClose) r = CloseCommandSession(service.get());
  if (c.op == Op::kQuery) r = QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, out.data());
  if (c.op == Op::kSet) r = SetCommand(nullptr, service.get(), 1, 0, nullptr, &len, out.data());
  vexel::g_MbnDeviceServicesContext = modem;
  EXPECT_EQ(r, c.expected);
  if ((c.op == Op::kQuery || c.op == Op::kSet) && r == 0) {
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + len), c.answer);
  } else {
    EXPECT_EQ(len, 64u);
    for (unsigned char b : out) ASSERT_EQ(b, 0xEE);
  }
}

constexpr std::uint32_t kNotFound = 0x80070490u;

INSTANTIATE_TEST_SUITE_P(
    Session, EarlyCompletionTest,
    ::testing::Values(
        EarlyCase{"QueryAnsweredBeforeItsIdIsKnown", Op::kQuery, {{7, 0, {0x42, 0x43}}}, 0, {0x42, 0x43}},
        EarlyCase{"QueryFindsItsOwnAmongLateOnes", Op::kQuery, {{5, 0, {0x95}}, {7, 0, {0x42}}, {6, 0, {0x96}}}, 0,
                  {0x42}},
        // More late ones than are kept: the oldest make room.
        EarlyCase{"QueryFindsItsOwnBehindManyLateOnes",
                  Op::kQuery,
                  {{1, 0, {0x91}}, {2, 0, {0x92}}, {3, 0, {0x93}}, {4, 0, {0x94}}, {5, 0, {0x95}}, {7, 0, {0x42}}},
                  0,
                  {0x42}},
        EarlyCase{"QueryIgnoresAnotherRequestsAnswer", Op::kQuery, {{6, 0, {0x96}}}, kTimedOut, {}},
        EarlyCase{"SetAnsweredBeforeItsIdIsKnown", Op::kSet, {{6, 0, {0x96}}, {7, 0, {0x42}}}, 0, {0x42}},
        EarlyCase{"SetIgnoresAnotherRequestsAnswer", Op::kSet, {{8, 0, {0x98}}}, kTimedOut, {}},
        EarlyCase{"OpenAnsweredBeforeItsIdIsKnown", Op::kOpen, {{7, kNotFound, {}}, {8, 0, {}}},
                  static_cast<long>(static_cast<std::int32_t>(kNotFound)), {}},
        EarlyCase{"OpenIgnoresAnotherRequestsAnswer", Op::kOpen, {{6, 0, {}}}, kTimedOut, {}},
        EarlyCase{"CloseAnsweredBeforeItsIdIsKnown", Op::kClose, {{6, kNotFound, {}}, {7, 0, {}}}, 1, {}},
        EarlyCase{"CloseIgnoresAnotherRequestsAnswer", Op::kClose, {{6, 0, {}}}, 0, {}}),
    [](const ::testing::TestParamInfo<EarlyCase>& p) { return std::string(p.param.name); });

TEST_F(SessionTest, LateSetCompletionNeverWritesIntoTheCallersBuffer) {
  auto svc = std::make_shared<ScriptedService>();
  svc->replies = {Reply({0x5A, 0x5A, 0x5A}, Waits(1.5))};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  auto out = std::make_unique<unsigned char[]>(8);
  std::memset(out.get(), 0, 8);
  unsigned int len = 8;
  EXPECT_EQ(SetCommand(nullptr, service.get(), 1, 0, nullptr, &len, out.get()), kTimedOut);
  plat::SleepMs(Waits(1));
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
  svc->replies = {Reply({1}, Waits(1.5))};
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, svc);
  Connect();
  Id service(kNvm);
  unsigned int len = 0;
  EXPECT_EQ(QueryCommand(nullptr, service.get(), 1, 0, nullptr, &len, nullptr), kTimedOut);
  DisconnectInterface();  // frees the sink
  plat::SleepMs(Waits(1));  // the completion would land now; under the sanitizers a call would be caught
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

// The query completion echoes the payload it read, before it is known to be awaited; an array it
// cannot read as bytes is neither echoed nor stored.
TEST(Sink, EchoesOnlyAQueryPayloadItCanRead) {
  struct Case {
    const char* name;
    plat::VARTYPE vt;
    plat::ULONG elements;
    const char* echoed;
  };
  const Case cases[] = {
      {"Bytes", plat::VT_UI1, 2, "Query command data: 00 01 \n"},
      {"NoBytes", plat::VT_UI1, 0, "Query command data: \n"},
      {"FourByteElements", plat::VT_UI4, 2, ""},
  };
  vexel::DebugLevel = 0;
  vexel::CMbnSinks sink;
  for (const Case& c : cases) {
    plat::SAFEARRAYBOUND bound{c.elements, 0};
    plat::UniqueSafeArray data(plat::SafeArrayCreate(c.vt, 1, &bound));
    ASSERT_TRUE(data) << c.name;
    for (plat::LONG i = 0; i < static_cast<plat::LONG>(c.elements); ++i) {
      std::uint32_t value = static_cast<std::uint32_t>(i);
      ASSERT_EQ(plat::SafeArrayPutElement(data.get(), &i, &value), plat::S_OK) << c.name;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(sink.OnQueryCommandComplete(nullptr, 0, data.get(), plat::S_OK, 1), plat::S_OK) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.echoed) << c.name;
  }
  vexel::DebugLevel = 2;
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
