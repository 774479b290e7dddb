// Device-service requests through the simulated stack: sessions, completions, faults, the trace,
// and the connection-point rules.
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/sync.h"
#include "platform/text.h"
#include "sim/modem_config.h"
#include "sim/trace.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using namespace std::chrono_literals;

// Answers with the bytes it was sent: these tests are about the stack around a service, not about
// what the modem's own services answer.
class EchoModel final : public sim::ServiceModel {
 public:
  sim::ServiceReply Query(std::uint32_t, const std::vector<std::uint8_t>& data) override { return Echo(data); }
  sim::ServiceReply Set(std::uint32_t, const std::vector<std::uint8_t>& data) override { return Echo(data); }

 private:
  static sim::ServiceReply Echo(const std::vector<std::uint8_t>& data) {
    sim::ServiceReply r;
    r.payload = data;
    return r;
  }
};

class DeviceServiceTest : public SimTest {
 protected:
  static void UseEcho() {
    for (const auto kind : {sim::ServiceKind::kMsSar, sim::ServiceKind::kNvm, sim::ServiceKind::kAtTunnel,
                            sim::ServiceKind::kAtCommand})
      sim::testing::SetServiceModel(kind, std::make_shared<EchoModel>());
  }

  // Creates the manager (reading modem.ini now), advises a fresh sink and opens the context of the
  // first interface. Every service echoes.
  void Connect() {
    UseEcho();
    manager_ = Create<plat::IMbnDeviceServicesManager>(plat::CLSID_MbnDeviceServicesManager);
    ASSERT_TRUE(manager_);
    plat::ComPtr<plat::IConnectionPointContainer> container;
    ASSERT_EQ(plat::S_OK, manager_.As(&container));
    ASSERT_EQ(plat::S_OK, container->FindConnectionPoint(plat::IID_IMbnDeviceServicesEvents, point_.put()));
    sink_ = plat::ComPtr<RecordingSink>::Adopt(new RecordingSink);
    ASSERT_EQ(plat::S_OK, point_->Advise(sink_.get(), &cookie_));
    plat::BStr iface(sim::InterfaceId(0));
    ASSERT_EQ(plat::S_OK, manager_->GetDeviceServicesContext(iface.get(), context_.put()));
  }
  void TearDown() override {
    if (cookie_) point_->Unadvise(cookie_);
    SimTest::TearDown();
  }

  plat::ComPtr<plat::IMbnDeviceService> Service(const char16_t* id) {
    plat::ComPtr<plat::IMbnDeviceService> service;
    plat::BStr bid(id);
    EXPECT_EQ(plat::S_OK, context_->GetDeviceService(bid.get(), service.put()));
    return service;
  }
  plat::ULONG Open(plat::IMbnDeviceService* s) {
    plat::ULONG id = 0;
    EXPECT_EQ(plat::S_OK, s->OpenCommandSession(&id));
    return id;
  }
  plat::ULONG Query(plat::IMbnDeviceService* s, plat::ULONG cid, const std::vector<std::uint8_t>& bytes) {
    plat::UniqueSafeArray array(plat::MakeByteArray(bytes.data(), static_cast<plat::ULONG>(bytes.size())));
    plat::ULONG id = 0;
    EXPECT_EQ(plat::S_OK, s->QueryCommand(cid, array.get(), &id));
    return id;
  }
  // Opens the session and waits for its completion.
  void OpenAndWait(plat::IMbnDeviceService* s) {
    const std::size_t before = sink_->events().size();
    Open(s);
    ASSERT_TRUE(sink_->WaitFor(before + 1));
  }
  Delivered Last() { return sink_->events().back(); }

  plat::ComPtr<plat::IMbnDeviceServicesManager> manager_;
  plat::ComPtr<plat::IConnectionPoint> point_;
  plat::ComPtr<RecordingSink> sink_;
  plat::DWORD cookie_ = 0;
  plat::ComPtr<plat::IMbnDeviceServicesContext> context_;
};

// A model that answers with fixed bytes after a fixed delay.
class FixedModel final : public sim::ServiceModel {
 public:
  FixedModel(std::vector<std::uint8_t> payload, std::uint32_t delay_ms)
      : payload_(std::move(payload)), delay_(delay_ms) {}
  sim::ServiceReply Query(std::uint32_t, const std::vector<std::uint8_t>&) override { return Reply(); }
  sim::ServiceReply Set(std::uint32_t, const std::vector<std::uint8_t>&) override { return Reply(); }
  sim::ServiceReply WriteData(const std::vector<std::uint8_t>&) override { return Reply(); }

 private:
  sim::ServiceReply Reply() const {
    sim::ServiceReply r;
    r.payload = payload_;
    r.delay_ms = delay_;
    return r;
  }
  std::vector<std::uint8_t> payload_;
  std::uint32_t delay_;
};

TEST_F(DeviceServiceTest, OpenQuerySetCloseEchoInOrderWithTheirRequestIds) {
  Connect();
  auto nvm = Service(kNvmId);
  plat::BOOL open = plat::TRUE;
  ASSERT_EQ(plat::S_OK, nvm->get_IsCommandSessionOpen(&open));
  EXPECT_EQ(plat::FALSE, open);

  const plat::ULONG open_id = Open(nvm.get());
  const plat::ULONG query_id = Query(nvm.get(), 7, {0x01, 0xAB});
  plat::ULONG set_id = 0;
  ASSERT_EQ(plat::S_OK, nvm->SetCommand(9, nullptr, &set_id));
  plat::ULONG close_id = 0;
  ASSERT_EQ(plat::S_OK, nvm->CloseCommandSession(&close_id));
  EXPECT_NE(open_id, query_id);
  EXPECT_NE(query_id, set_id);

  ASSERT_TRUE(sink_->WaitFor(4));
  const auto ev = sink_->events();
  EXPECT_EQ("open", ev[0].kind);
  EXPECT_EQ(open_id, ev[0].request_id);
  EXPECT_EQ("query", ev[1].kind);
  EXPECT_EQ(query_id, ev[1].request_id);
  EXPECT_EQ(plat::S_OK, ev[1].status);
  EXPECT_EQ((std::vector<std::uint8_t>{0x01, 0xAB}), ev[1].data);
  EXPECT_EQ("set", ev[2].kind);
  EXPECT_TRUE(ev[2].had_array);  // an empty payload still comes as a (0-element) array
  EXPECT_TRUE(ev[2].data.empty());
  EXPECT_EQ("close", ev[3].kind);
  EXPECT_EQ(close_id, ev[3].request_id);
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kNvmId));

  const auto requests = sim::testing::Requests();
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ("query", requests[1].op);
  EXPECT_EQ(sim::InterfaceId(0), requests[1].iface);
  EXPECT_EQ(std::u16string(kNvmId), requests[1].service);
  EXPECT_EQ(7u, requests[1].cid);
  EXPECT_TRUE(requests[1].had_array);
  EXPECT_EQ(query_id, requests[1].request_id);
  EXPECT_FALSE(requests[2].had_array);
}

TEST_F(DeviceServiceTest, SessionIsSharedByServiceObjectsAndCommandsNeedIt) {
  Connect();
  auto first = Service(kMsSarId);
  Query(first.get(), 1, {0x55});
  ASSERT_TRUE(sink_->WaitFor(1));
  EXPECT_EQ(sim::kSessionNotOpen, Last().status);
  EXPECT_FALSE(Last().had_array);

  OpenAndWait(first.get());
  EXPECT_TRUE(sim::testing::IsCommandSessionOpen(kMsSarId));
  // Another object for the same service, spelled in lower case, sees the open session.
  auto second = Service(u"{68223d04-9f6c-4e0f-822d-28441fb72340}");
  plat::BOOL open = plat::FALSE;
  ASSERT_EQ(plat::S_OK, second->get_IsCommandSessionOpen(&open));
  EXPECT_EQ(plat::TRUE, open);
  Query(second.get(), 1, {0x55});
  ASSERT_TRUE(sink_->WaitFor(3));
  EXPECT_EQ(plat::S_OK, Last().status);
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kNvmId));
}

TEST_F(DeviceServiceTest, UnknownOrAbsentServicesAndInterfacesAreNotFound) {
  WriteIni("[services]\nat_tunnel=0\n");
  Connect();
  plat::ComPtr<plat::IMbnDeviceService> service;
  for (const char16_t* id :
       {u"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}", u"{00000000-0000-0000-0000-000000000000}", u"not a guid"}) {
    plat::BStr bid(id);
    EXPECT_EQ(sim::kNotFound, context_->GetDeviceService(bid.get(), service.put()));
    EXPECT_FALSE(service);
  }
  EXPECT_TRUE(Service(kAtCommandId));
  plat::ComPtr<plat::IMbnDeviceServicesContext> other;
  plat::BStr bogus(sim::InterfaceId(1));
  EXPECT_EQ(sim::kNotFound, manager_->GetDeviceServicesContext(bogus.get(), other.put()));
  plat::ULONG size = 0;
  EXPECT_EQ(plat::S_OK, context_->get_MaxCommandSize(&size));
  EXPECT_EQ(4096u, size);
}

struct FaultCase {
  const char* name;
  const char* faults;   // the [faults] section
  bool open_first;      // open the session before the request under test
  bool reports_open;    // get_IsCommandSessionOpen before the request
  const char* request;  // "open" or "query"
  bool completes;
  plat::HRESULT status;
  bool had_array;
  bool same_id = true;          // the completion carries the id the request returned
  std::uint32_t min_delay = 0;  // milliseconds (before scaling) the completion takes at least
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultTest : public DeviceServiceTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, ShapesTheCompletion) {
  const FaultCase& c = GetParam();
  WriteIni(std::string("[faults]\n") + c.faults + "\n");
  Connect();
  auto nvm = Service(kNvmId);
  if (c.open_first) OpenAndWait(nvm.get());
  plat::BOOL open = plat::FALSE;
  ASSERT_EQ(plat::S_OK, nvm->get_IsCommandSessionOpen(&open));
  EXPECT_EQ(c.reports_open, open == plat::TRUE);
  const std::size_t before = sink_->events().size();
  const auto start = std::chrono::steady_clock::now();
  const plat::ULONG id = std::string(c.request) == "open" ? Open(nvm.get()) : Query(nvm.get(), 3, {0x0F});
  EXPECT_NE(0u, id);
  if (!c.completes) {
    EXPECT_FALSE(sink_->WaitFor(before + 1, 150ms));
    return;
  }
  ASSERT_TRUE(sink_->WaitFor(before + 1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(plat::ScaleMs(c.min_delay)));
  const Delivered d = Last();
  EXPECT_EQ(c.request, d.kind);
  EXPECT_EQ(c.status, d.status);
  EXPECT_EQ(c.had_array, d.had_array);
  EXPECT_EQ(c.same_id, id == d.request_id);
  if (c.request == std::string("open")) {
    EXPECT_EQ(plat::Succeeded(c.status), sim::testing::IsCommandSessionOpen(kNvmId));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        FaultCase{"DropOpen", "drop=nvm:open", false, false, "open", false, 0, false},
        FaultCase{"DropQuery", "drop=nvm:query", true, true, "query", false, 0, false},
        FaultCase{"FailOpenDefault", "fail=nvm:open", false, false, "open", true, plat::E_FAIL, false},
        FaultCase{"FailQueryStatus", "fail=nvm:query=0x8007001F", true, true, "query", true, plat::Hr(0x8007001Fu),
                  false},
        FaultCase{"EmptyQuery", "empty=nvm:query", true, true, "query", true, plat::S_OK, false},
        FaultCase{"OtherServicesUnaffected", "drop=ms_sar:query\nfail=at_tunnel:open\nrequest_id_mismatch=ms_sar", true,
                  true, "query", true, plat::S_OK, true},
        FaultCase{"QueryOnFailedOpen", "fail=nvm:open=0x80070005", true, false, "query", true, sim::kSessionNotOpen,
                  false},
        FaultCase{"SessionOpenNeedsNoOpen", "session_open=nvm", false, true, "query", true, plat::S_OK, true},
        FaultCase{"SessionOpenOfAnotherService", "session_open=ms_sar", false, false, "query", true,
                  sim::kSessionNotOpen, false},
        FaultCase{"RequestIdMismatch", "request_id_mismatch=nvm", true, true, "query", true, plat::S_OK, true, false},
        FaultCase{"Latency", "latency_ms=3000", false, false, "open", true, plat::S_OK, false, true, 3000}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DeviceServiceTest, ReplyDelayHoldsItsServiceQueueButNotOthers) {
  WriteIni("[faults]\nsession_open=nvm,ms_sar\n");
  Connect();
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm,
                                std::make_shared<FixedModel>(std::vector<std::uint8_t>{0xD1}, 5000));
  auto nvm = Service(kNvmId);
  auto sar = Service(kMsSarId);
  const plat::ULONG slow = Query(nvm.get(), 1, {});
  const plat::ULONG fast = Query(sar.get(), 1, {0x5A});
  ASSERT_TRUE(sink_->WaitFor(2));
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm, std::make_shared<EchoModel>());
  const plat::ULONG after = Query(nvm.get(), 1, {0xE2});
  ASSERT_TRUE(sink_->WaitFor(3));
  const auto ev = sink_->events();
  EXPECT_EQ(fast, ev[0].request_id);
  EXPECT_EQ(slow, ev[1].request_id);
  EXPECT_EQ(std::vector<std::uint8_t>{0xD1}, ev[1].data);
  EXPECT_EQ(after, ev[2].request_id);
  EXPECT_EQ(std::vector<std::uint8_t>{0xE2}, ev[2].data);
}

TEST_F(DeviceServiceTest, ResetAllDiscardsPendingCompletionsModelsAndSessions) {
  Connect();
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm,
                                std::make_shared<FixedModel>(std::vector<std::uint8_t>{9}, 3000));
  auto nvm = Service(kNvmId);
  OpenAndWait(nvm.get());
  EXPECT_TRUE(sim::testing::IsCommandSessionOpen(kNvmId));
  Query(nvm.get(), 1, {});  // held back by the model's delay
  sim::testing::ResetAll();
  EXPECT_FALSE(sim::testing::IsCommandSessionOpen(kNvmId));
  EXPECT_TRUE(sim::testing::Requests().empty());
  UseEcho();
  OpenAndWait(nvm.get());
  Query(nvm.get(), 1, {3});  // answered by the echo again
  ASSERT_TRUE(sink_->WaitFor(3));
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * plat::ScaleMs(3000)));
  const auto ev = sink_->events();
  ASSERT_EQ(3u, ev.size());
  EXPECT_EQ(std::vector<std::uint8_t>{3}, ev[2].data);
}

TEST_F(DeviceServiceTest, NoCallbackAfterUnadviseEvenForALateCompletion) {
  WriteIni("[faults]\nsession_open=nvm\n");
  Connect();
  // A second sink stays advised: it shows that the late completion was in fact delivered.
  auto witness = plat::ComPtr<RecordingSink>::Adopt(new RecordingSink);
  plat::DWORD witness_cookie = 0;
  ASSERT_EQ(plat::S_OK, point_->Advise(witness.get(), &witness_cookie));
  sim::testing::SetServiceModel(sim::ServiceKind::kNvm,
                                std::make_shared<FixedModel>(std::vector<std::uint8_t>{1}, 3000));
  auto nvm = Service(kNvmId);
  Query(nvm.get(), 1, {});
  ASSERT_EQ(plat::S_OK, point_->Unadvise(cookie_));
  EXPECT_EQ(plat::CONNECT_E_NOCONNECTION, point_->Unadvise(cookie_));
  cookie_ = 0;
  sink_->unadvised = true;
  EXPECT_EQ(1u, sink_->refs());  // the connection point gave its reference back
  ASSERT_TRUE(witness->WaitFor(1));
  EXPECT_EQ(0, sink_->calls_after_unadvise);
  EXPECT_TRUE(sink_->events().empty());
  point_->Unadvise(witness_cookie);
}

TEST_F(DeviceServiceTest, UnadviseWaitsForACallbackInProgress) {
  Connect();
  std::atomic<bool> callback_done{false};
  sink_->on_event = [&](const Delivered&) {
    std::this_thread::sleep_for(60ms);
    callback_done = true;
  };
  auto nvm = Service(kNvmId);
  Open(nvm.get());
  while (sink_->events().empty()) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(plat::S_OK, point_->Unadvise(cookie_));
  cookie_ = 0;
  EXPECT_TRUE(callback_done);
}

TEST_F(DeviceServiceTest, SinkMayUnadviseItselfFromItsCallback) {
  WriteIni("[faults]\nsession_open=nvm\n");
  Connect();
  plat::IConnectionPoint* point = point_.get();
  plat::DWORD cookie = cookie_;
  sink_->on_event = [&, point, cookie](const Delivered&) {
    EXPECT_EQ(plat::S_OK, point->Unadvise(cookie));
    sink_->unadvised = true;
  };
  cookie_ = 0;
  auto nvm = Service(kNvmId);
  Query(nvm.get(), 1, {1});
  Query(nvm.get(), 1, {2});
  ASSERT_TRUE(sink_->WaitFor(1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(1u, sink_->events().size());
  EXPECT_EQ(0, sink_->calls_after_unadvise);
}

TEST_F(DeviceServiceTest, ConnectionPointRules) {
  manager_ = Create<plat::IMbnDeviceServicesManager>(plat::CLSID_MbnDeviceServicesManager);
  plat::ComPtr<plat::IConnectionPointContainer> container;
  ASSERT_EQ(plat::S_OK, manager_.As(&container));
  plat::ComPtr<plat::IConnectionPoint> other;
  EXPECT_EQ(plat::CONNECT_E_NOCONNECTION, container->FindConnectionPoint(plat::IID_IMbnInterfaceEvents, other.put()));
  ASSERT_EQ(plat::S_OK, container->FindConnectionPoint(plat::IID_IMbnDeviceServicesEvents, point_.put()));
  plat::IID iid{};
  EXPECT_EQ(plat::S_OK, point_->GetConnectionInterface(&iid));
  EXPECT_EQ(plat::IID_IMbnDeviceServicesEvents, iid);
  // An object without the event interface cannot connect.
  plat::ComPtr<plat::IMbnInterfaceManager> im = Create<plat::IMbnInterfaceManager>(plat::CLSID_MbnInterfaceManager);
  plat::DWORD cookie = 0;
  EXPECT_EQ(plat::CONNECT_E_CANNOTCONNECT, point_->Advise(im.get(), &cookie));
  EXPECT_EQ(plat::CONNECT_E_NOCONNECTION, point_->Unadvise(12345));
}

TEST_F(DeviceServiceTest, DataSessionWritesCompleteAndReadBack) {
  Connect();
  auto tunnel = Service(kAtTunnelId);
  plat::ULONG id = 0;
  plat::UniqueSafeArray bytes(plat::MakeByteArray(reinterpret_cast<const plat::BYTE*>("AT\r"), 3));
  ASSERT_EQ(plat::S_OK, tunnel->WriteData(bytes.get(), &id));
  ASSERT_TRUE(sink_->WaitFor(1));
  EXPECT_EQ(sim::kSessionNotOpen, Last().status);

  sim::testing::SetServiceModel(sim::ServiceKind::kAtTunnel,
                                std::make_shared<FixedModel>(std::vector<std::uint8_t>{'O', 'K'}, 0));
  ASSERT_EQ(plat::S_OK, tunnel->OpenDataSession(&id));
  ASSERT_TRUE(sink_->WaitFor(2));
  plat::BOOL open = plat::FALSE;
  ASSERT_EQ(plat::S_OK, tunnel->get_IsDataSessionOpen(&open));
  EXPECT_EQ(plat::TRUE, open);
  ASSERT_EQ(plat::S_OK, tunnel->WriteData(bytes.get(), &id));
  ASSERT_EQ(plat::S_OK, tunnel->CloseDataSession(&id));
  ASSERT_TRUE(sink_->WaitFor(5));
  const auto ev = sink_->events();
  EXPECT_EQ("write_data", ev[2].kind);
  EXPECT_EQ(plat::S_OK, ev[2].status);
  EXPECT_EQ("read", ev[3].kind);
  EXPECT_EQ((std::vector<std::uint8_t>{'O', 'K'}), ev[3].data);
  EXPECT_EQ("close_data", ev[4].kind);
  EXPECT_EQ(plat::S_OK, tunnel->get_IsDataSessionOpen(&open));
  EXPECT_EQ(plat::FALSE, open);
}

TEST_F(DeviceServiceTest, RejectsBadArraysWithoutSendingARequest) {
  Connect();
  auto nvm = Service(kNvmId);
  plat::ULONG id = 0;
  std::vector<std::uint8_t> big(4097, 0);
  plat::UniqueSafeArray too_big(plat::MakeByteArray(big.data(), static_cast<plat::ULONG>(big.size())));
  EXPECT_EQ(plat::E_INVALIDARG, nvm->QueryCommand(1, too_big.get(), &id));
  plat::SAFEARRAYBOUND bound{1, 0};
  plat::UniqueSafeArray words(plat::SafeArrayCreate(plat::VT_UI4, 1, &bound));
  EXPECT_EQ(plat::E_INVALIDARG, nvm->SetCommand(1, words.get(), &id));
  EXPECT_EQ(plat::E_POINTER, nvm->OpenCommandSession(nullptr));
  EXPECT_TRUE(sim::testing::Requests().empty());
}

// ---- Trace ----------------------------------------------------------------------------------------

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(DeviceServiceTest, TraceHasOneExactLinePerRequest) {
  plat::SetEnv("TXL_SIM_TRACE", "1");
  Connect();
  auto nvm = Service(kNvmId);
  Open(nvm.get());
  Query(nvm.get(), 0x10, {0x01, 0xAB, 0x00});
  plat::ULONG id = 0;
  nvm->SetCommand(4294967295u, nullptr, &id);
  nvm->CloseCommandSession(&id);
  nvm->OpenDataSession(&id);  // the data session is not traced
  const std::string iface = plat::Utf16ToUtf8(sim::InterfaceId(0));
  const std::string service = "\"service\":\"{e10ff51b-ac2d-4104-86f6-8d621b430189}\"";
  EXPECT_EQ((std::vector<std::string>{
                "{\"op\":\"open\",\"iface\":\"" + iface + "\"," + service + ",\"cid\":0,\"data\":\"\"}",
                "{\"op\":\"query\",\"iface\":\"" + iface + "\"," + service + ",\"cid\":16,\"data\":\"01AB00\"}",
                "{\"op\":\"set\",\"iface\":\"" + iface + "\"," + service + ",\"cid\":4294967295,\"data\":\"\"}",
                "{\"op\":\"close\",\"iface\":\"" + iface + "\"," + service + ",\"cid\":0,\"data\":\"\"}",
            }),
            ReadLines(dir() / "modem" / "trace.jsonl"));
  // What the stack wrote reads back to the same line; a line it would never write reads as none.
  for (const std::string& line : ReadLines(dir() / "modem" / "trace.jsonl")) {
    const auto parsed = sim::trace::Parse(line);
    ASSERT_TRUE(parsed) << line;
    EXPECT_EQ(sim::trace::Encode(*parsed), line + "\n");
  }
  const sim::trace::Line odd{"set", "a\"b\\c\x01", "{x}", 7, {0x00, 0xFF}};
  EXPECT_EQ(sim::trace::Parse(sim::trace::Encode(odd))->iface, odd.iface);
  for (const char* refused : {
           R"({"op":"set","iface":"i","service":"s","cid":1,"data":"0G"})",          // not hex
           R"({"op":"set","iface":"i","service":"s","cid":1,"data":"ABC"})",         // half a byte
           R"({"op":"set","iface":"i","service":"s","cid":4294967296,"data":""})",   // past 32 bits
           R"({"op":"set","iface":"i","service":"s","cid":-1,"data":""})",
           R"({"op":"set","iface":"i","service":"s","data":""})",                     // no cid
           R"({"op":"set","iface":"i\u00G1","service":"s","cid":1,"data":""})",      // broken escape
           R"({"op":"set","iface":"i","service":"s","cid":1,"data":"00)",            // unterminated
       }) {
    EXPECT_FALSE(sim::trace::Parse(refused)) << refused;
  }
}

TEST_F(DeviceServiceTest, NoTraceUnlessEnabled) {
  plat::SetEnv("TXL_SIM_TRACE", "0");
  Connect();
  auto nvm = Service(kNvmId);
  Open(nvm.get());
  EXPECT_FALSE(std::filesystem::exists(dir() / "modem" / "trace.jsonl"));
  EXPECT_EQ(1u, sim::testing::Requests().size());  // recorded all the same
}

TEST_F(DeviceServiceTest, ConcurrentTracersWriteWholeLines) {
  plat::SetEnv("TXL_SIM_TRACE", "1");
  Connect();
  constexpr int kThreads = 4;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto s = Service(t % 2 ? kNvmId : kAtCommandId);
      for (int i = 0; i < kEach; ++i) Query(s.get(), static_cast<plat::ULONG>(t), std::vector<std::uint8_t>(40, 0xEE));
    });
  }
  for (auto& th : threads) th.join();
  const auto lines = ReadLines(dir() / "modem" / "trace.jsonl");
  ASSERT_EQ(static_cast<std::size_t>(kThreads * kEach), lines.size());
  for (const auto& line : lines) {
    EXPECT_EQ(0u, line.find("{\"op\":\"query\",")) << line;
    EXPECT_NE(std::string::npos, line.find(std::string(80, 'E') + "\"}")) << line;
  }
}

}  // namespace
}  // namespace simtest
