// MBIM control messages on a byte stream: what a device node or a pseudo-terminal delivers in
// arbitrary pieces is cut into messages, fragments are joined, and anything else is named.
#include "sim/mbim/wire.h"

#include "sim/mbim/endpoint.h"
#include "sim/mbim/sim_device.h"
#include "services_test_support.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <optional>
#include <string>

#include "platform/bytes.h"

#if TXL_HAVE_LIBMBIM
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/mbim_status.h"
#include "platform/posix/mbim/devices.h"
#include "platform/posix/mbim/mbim_link.h"
#include "platform/posix/mbim/os_modem.h"
#include "platform/process.h"
#include "platform/pty.h"
#endif

namespace sim::mbim {
namespace {

// Feeds `stream` to a reader `chunk` bytes at a time and the messages to an assembler.
std::vector<Assembler::Outcome> Read(const Bytes& stream, std::size_t chunk) {
  StreamReader reader;
  Assembler assembler;
  std::vector<Assembler::Outcome> out;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    reader.Append(std::span(stream).subspan(at, std::min(chunk, stream.size() - at)));
    Bytes raw;
    while (reader.Take(&raw) == StreamReader::Result::kMessage) {
      Assembler::Outcome o = assembler.Feed(raw);
      if (o.kind != Assembler::Outcome::Kind::kNeedMore) out.push_back(std::move(o));
    }
  }
  return out;
}

Bytes Joined(const std::vector<Bytes>& fragments) {
  Bytes all;
  for (const Bytes& f : fragments) all.insert(all.end(), f.begin(), f.end());
  return all;
}

TEST(MbimWire, MessagesSurviveAnyCuttingOfTheStream) {
  // payload size, the transfer size asked at OPEN, the read size of the stream
  struct Row {
    std::size_t payload;
    std::uint32_t transfer;
    std::size_t chunk;
    std::size_t fragments;
  };
  for (const Row& row : {Row{0, 4096, 4096, 1}, Row{28, 4096, 1, 1}, Row{4048, 4096, 7, 1}, Row{4049, 4096, 4096, 2},
                         Row{1448, 64, 13, 34}, Row{1448, 16, 100, 34}, Row{9000, 100000, 4096, 3}}) {
    Bytes info(row.payload);
    std::iota(info.begin(), info.end(), std::uint8_t{1});
    const Uuid service = plat::GuidToBytes({0x68223D04, 0x9F6C, 0x4E0F, {0x82, 0x2D, 0x28, 0x44, 0x1F, 0xB7, 0x23, 0x40}});
    const std::vector<Bytes> done = EncodeCommandDone(7, service, 1, Status::kSuccess, info, row.transfer);
    const std::vector<Bytes> command = EncodeCommand(8, service, 2, CommandType::kSet, info, row.transfer);
    EXPECT_EQ(done.size(), row.fragments) << row.payload << "/" << row.transfer;
    const std::uint32_t limit = std::clamp(row.transfer, kMinControlTransfer, kMaxControlTransfer);
    for (const Bytes& f : done) EXPECT_LE(f.size(), limit);

    Bytes stream = EncodeOpen(6, row.transfer);
    for (const Bytes& b : {Joined(done), Joined(command), EncodeClose(9)}) stream.insert(stream.end(), b.begin(), b.end());
    const auto read = Read(stream, row.chunk);
    ASSERT_EQ(read.size(), 4u);
    for (const auto& o : read) ASSERT_EQ(o.kind, Assembler::Outcome::Kind::kMessage);
    EXPECT_EQ(read[0].message.type, MessageType::kOpen);
    EXPECT_EQ(read[0].message.value, row.transfer);
    EXPECT_EQ(read[1].message.type, MessageType::kCommandDone);
    EXPECT_EQ(read[1].message.transaction_id, 7u);
    EXPECT_EQ(read[1].message.command_type, 0u);  // the status
    EXPECT_EQ(read[1].message.information, info);
    EXPECT_EQ(read[2].message.type, MessageType::kCommand);
    EXPECT_EQ(read[2].message.service, service);
    EXPECT_EQ(read[2].message.cid, 2u);
    EXPECT_EQ(read[2].message.command_type, 1u);
    EXPECT_EQ(read[2].message.information, info);
    EXPECT_EQ(read[3].message.type, MessageType::kClose);
    EXPECT_EQ(read[3].message.transaction_id, 9u);
  }
}

TEST(MbimWire, BrokenMessagesAreNamedWithTheirTransaction) {
  const Uuid service = kBasicConnect;
  const std::vector<Bytes> two = EncodeCommand(5, service, 1, CommandType::kQuery, Bytes(100), 64);
  auto with = [](Bytes b, std::size_t at, std::uint32_t v) {
    plat::LeWriter(b).U32(at, v);
    return b;
  };
  const Bytes command = EncodeCommand(3, service, 1, CommandType::kQuery, Bytes(4), 4096)[0];
  struct Row {
    const char* what;
    std::vector<Bytes> messages;
    ProtocolError error;
    std::uint32_t tid;
  };
  const Row rows[] = {
      {"unknown message type", {with(EncodeClose(4), 0, 0x99)}, ProtocolError::kUnknown, 4},
      {"close with a body", {with(Bytes{2, 0, 0, 0, 16, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}, 0, 2)}, ProtocolError::kLengthMismatch, 4},
      {"open without its transfer size", {with(EncodeClose(4), 0, 1)}, ProtocolError::kLengthMismatch, 4},
      {"information length beyond the body", {with(command, 44, 5)}, ProtocolError::kLengthMismatch, 3},
      {"information length short of the body", {with(command, 44, 3)}, ProtocolError::kLengthMismatch, 3},
      {"command body too short", {with(with(Bytes(32), 0, 3), 12, 1)}, ProtocolError::kLengthMismatch, 0},
      {"no fragments", {with(command, 12, 0)}, ProtocolError::kFragmentOutOfSequence, 3},
      {"fragment beyond the total", {with(command, 16, 1)}, ProtocolError::kFragmentOutOfSequence, 3},
      {"second fragment first", {two.at(1)}, ProtocolError::kFragmentOutOfSequence, 5},
      {"a fragment of another transaction", {two.at(0), with(two.at(1), 8, 6)}, ProtocolError::kFragmentOutOfSequence, 6},
      {"a fragment repeated", {two.at(0), two.at(0), two.at(2)}, ProtocolError::kFragmentOutOfSequence, 5},
      {"more than a device holds", EncodeCommand(2, service, 1, CommandType::kSet, Bytes(kMaxJoinedBody), 4096),
       ProtocolError::kMaxTransfer, 2},
  };
  for (const Row& row : rows) {
    Bytes stream;
    for (Bytes m : row.messages) {
      if (m.size() >= 8) plat::LeWriter(m).U32(4, static_cast<std::uint32_t>(m.size()));
      stream.insert(stream.end(), m.begin(), m.end());
    }
    const auto read = Read(stream, 4096);
    ASSERT_FALSE(read.empty()) << row.what;
    EXPECT_EQ(read.back().kind, Assembler::Outcome::Kind::kError) << row.what;
    EXPECT_EQ(read.back().error, row.error) << row.what;
    EXPECT_EQ(read.back().transaction_id, row.tid) << row.what;
  }

  // A header whose length cannot be: the stream has no boundary left to find.
  for (std::uint32_t length : {0u, 11u, kMaxControlTransfer + 1}) {
    StreamReader reader;
    reader.Append(with(EncodeClose(1), 4, length));
    Bytes raw;
    EXPECT_EQ(reader.Take(&raw), StreamReader::Result::kMalformed) << length;
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST(MbimWire, ServiceIdsTravelInTheirTextOrder) {
  EXPECT_EQ(UuidText(kBasicConnect), "a289cc33-bcbb-8b4f-b6b0-133ec2aae6df");
  const plat::GUID ms_sar{0x68223D04, 0x9F6C, 0x4E0F, {0x82, 0x2D, 0x28, 0x44, 0x1F, 0xB7, 0x23, 0x40}};
  EXPECT_EQ(UuidText(plat::GuidToBytes(ms_sar)), "68223d04-9f6c-4e0f-822d-28441fb72340");
  const plat::GUID back = plat::GuidFromBytes(plat::GuidToBytes(ms_sar));
  EXPECT_EQ(back.Data1, ms_sar.Data1);
  EXPECT_EQ(back.Data2, ms_sar.Data2);
  EXPECT_EQ(back.Data3, ms_sar.Data3);
  EXPECT_TRUE(std::equal(back.Data4, back.Data4 + 8, ms_sar.Data4));
}

// Answers every command with its own information reversed and status 0, or `status` when set.
class FakeDevice final : public Device {
 public:
  CommandReply Command(const Uuid&, std::uint32_t cid, CommandType, const Bytes& information) override {
    ++commands;
    CommandReply r;
    r.information.assign(information.rbegin(), information.rend());
    if (cid == 99) r.status = Status::kNoDeviceSupport;
    return r;
  }
  void HostGone() override { ++hosts_gone; }
  int commands = 0;
  int hosts_gone = 0;
};

TEST(MbimEndpoint, AnswersAsTheProtocolSays) {
  using T = MessageType;
  auto query = [](std::uint32_t tid, std::uint32_t cid, std::size_t size) {
    return Joined(EncodeCommand(tid, kBasicConnect, cid, CommandType::kQuery, Bytes(size, 0xAB), 4096));
  };
  Bytes bad_type = query(8, 1, 4);
  plat::LeWriter(bad_type).U32(40, 7);
  Bytes garbage = EncodeClose(5);
  plat::LeWriter(garbage).U32(4, 3);
  struct Reply {
    T type;
    std::uint32_t tid;
    std::uint32_t value;  // status or protocol error
    std::size_t fragments = 1;
  };
  struct Row {
    const char* what;
    std::vector<Bytes> host;
    std::vector<Reply> replies;
    int commands;
    int hosts_gone;
  };
  const Row rows[] = {
      {"open, query, close",
       {EncodeOpen(1, 4096), query(2, 1, 40), EncodeClose(3)},
       {{T::kOpenDone, 1, 0}, {T::kCommandDone, 2, 0}, {T::kCloseDone, 3, 0}},
       1, 1},
      {"a command before open", {query(1, 1, 4)}, {{T::kFunctionError, 1, 5}}, 0, 0},
      {"the answer in fragments of the size asked at open",
       {EncodeOpen(1, 64), query(2, 1, 1448)},
       {{T::kOpenDone, 1, 0}, {T::kCommandDone, 2, 0, 34}},
       1, 0},
      {"a transfer size below the least", {EncodeOpen(1, 32), query(2, 1, 4)}, {{T::kOpenDone, 1, 21}, {T::kFunctionError, 2, 5}}, 0, 0},
      {"a second open: a new host after one that vanished",
       {EncodeOpen(1, 4096), EncodeOpen(1, 4096), query(2, 99, 0)},
       {{T::kOpenDone, 1, 0}, {T::kOpenDone, 1, 0}, {T::kCommandDone, 2, 9}},
       1, 1},
      {"neither query nor set", {EncodeOpen(1, 4096), bad_type}, {{T::kOpenDone, 1, 0}, {T::kCommandDone, 8, 21}}, 0, 0},
      {"a device's message sent to the device", {EncodeOpen(1, 4096), EncodeOpenDone(4, Status::kSuccess)},
       {{T::kOpenDone, 1, 0}, {T::kFunctionError, 4, 6}}, 0, 0},
      {"an unframeable header, then the host goes on", {EncodeOpen(1, 4096), garbage, query(6, 1, 4)},
       {{T::kOpenDone, 1, 0}, {T::kFunctionError, 0, 3}, {T::kCommandDone, 6, 0}}, 1, 0},
  };
  for (const Row& row : rows) {
    FakeDevice device;
    Endpoint endpoint(device);
    std::vector<Bytes> out;
    // Each host message in its own write, as a host writes them; the reader may not rely on it.
    for (const Bytes& m : row.host)
      for (Bytes& b : endpoint.Receive(m)) out.push_back(std::move(b));
    Assembler host;
    std::vector<std::pair<Message, std::size_t>> got;
    std::size_t fragments = 0;
    for (const Bytes& b : out) {
      EXPECT_LE(b.size(), endpoint.max_transfer()) << row.what;
      ++fragments;
      const Assembler::Outcome o = host.Feed(b);
      ASSERT_NE(o.kind, Assembler::Outcome::Kind::kError) << row.what;
      if (o.kind == Assembler::Outcome::Kind::kMessage) got.emplace_back(o.message, std::exchange(fragments, 0));
    }
    ASSERT_EQ(got.size(), row.replies.size()) << row.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const Message& m = got[i].first;
      const Reply& want = row.replies[i];
      EXPECT_EQ(m.type, want.type) << row.what << " #" << i;
      EXPECT_EQ(m.transaction_id, want.tid) << row.what << " #" << i;
      EXPECT_EQ(m.type == T::kCommandDone ? m.command_type : m.value, want.value) << row.what << " #" << i;
      EXPECT_EQ(got[i].second, want.fragments) << row.what << " #" << i;
    }
    EXPECT_EQ(device.commands, row.commands) << row.what;
    EXPECT_EQ(device.hosts_gone, row.hosts_gone) << row.what;
  }
}

class MbimSimDeviceTest : public simtest::SimTest {};

// The UTF-16 string at the offset and size found at `pair` of a basic-connect answer.
std::string StringAt(const Bytes& info, std::size_t pair) {
  const auto at = plat::ReadU32(info, pair);
  const auto size = plat::ReadU32(info, pair + 4);
  std::string out;
  if (!at || !size || !plat::FieldFits(info.size(), *at, *size)) return "<outside>";
  for (std::size_t i = *at; i + 1 < *at + *size; i += 2) out.push_back(static_cast<char>(info[i]));
  return out;
}

TEST_F(MbimSimDeviceTest, AnswersFromTheSimulatedModem) {
  const Uuid ms_sar = plat::GuidToBytes({0x68223D04, 0x9F6C, 0x4E0F, {0x82, 0x2D, 0x28, 0x44, 0x1F, 0xB7, 0x23, 0x40}});
  const Uuid unknown = plat::GuidToBytes({0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}});
  struct Row {
    const char* what;
    const char* faults;
    Uuid service;
    std::uint32_t cid;
    std::optional<Status> status;  // none: the host hears nothing
    std::function<void(const Bytes&)> check;
    std::vector<std::string> trace;  // the modem's requests, up to the host's CLOSE
  };
  const Row rows[] = {
      {"device caps: the module's model as hardware information", "", kBasicConnect, kCidDeviceCaps, Status::kSuccess,
       [](const Bytes& info) {
         EXPECT_EQ(StringAt(info, 56), "Osprey LTE Module");
         EXPECT_EQ(StringAt(info, 40).size(), 15u);  // the IMEI
         EXPECT_FALSE(StringAt(info, 48).empty());   // the firmware
       },
       {}},
      {"ready state, subscriber and SIM", "", kBasicConnect, kCidSubscriberReadyStatus, Status::kSuccess,
       [](const Bytes& info) {
         EXPECT_EQ(plat::ReadU32(info, 0), 1u);
         EXPECT_EQ(StringAt(info, 4), "310410123456789");
         EXPECT_EQ(StringAt(info, 12), "89014103211118510720");
       },
       {}},
      {"device services: basic connect and the modem's four", "", kBasicConnect, kCidDeviceServices, Status::kSuccess,
       [&](const Bytes& info) {
         ASSERT_EQ(plat::ReadU32(info, 0), 5u);
         const auto at = plat::ReadU32(info, 8 + 8 * 1);
         ASSERT_TRUE(at && plat::FieldFits(info.size(), *at, 28));
         EXPECT_TRUE(std::equal(ms_sar.begin(), ms_sar.end(), info.begin() + *at));
         EXPECT_EQ(plat::ReadU32(info, *at + 24), 2u);  // two commands
       },
       {}},
      {"MS SAR configuration, in a session opened for the host", "", ms_sar, 1, Status::kSuccess,
       [](const Bytes& info) { EXPECT_GE(info.size(), 16u); }, {"open", "query", "close"}},
      {"a failed query", "fail=ms_sar:query", ms_sar, 1, Status::kFailure, nullptr, {"open", "query", "close"}},
      {"a dropped query: no answer", "drop=ms_sar:query", ms_sar, 1, std::nullopt, nullptr, {"open", "query", "close"}},
      {"a service the modem lacks", "", unknown, 1, Status::kNoDeviceSupport, nullptr, {}},
  };
  for (const Row& row : rows) {
    sim::testing::ResetAll();
    WriteIni(std::string("[faults]\n") + row.faults + "\n");
    std::vector<Bytes> out;
    {
      SimDevice device;
      Endpoint endpoint(device);
      Bytes stream = EncodeOpen(1, 4096);
      const Bytes command = Joined(EncodeCommand(2, row.service, row.cid, CommandType::kQuery, {}, 4096));
      stream.insert(stream.end(), command.begin(), command.end());
      out = endpoint.Receive(stream);
      for (Bytes& b : endpoint.Receive(EncodeClose(3))) out.push_back(std::move(b));
    }
    Assembler host;
    std::vector<Message> got;
    for (const Bytes& b : out)
      if (auto o = host.Feed(b); o.kind == Assembler::Outcome::Kind::kMessage) got.push_back(o.message);
    ASSERT_EQ(got.size(), row.status ? 3u : 2u) << row.what;
    EXPECT_EQ(got.back().type, MessageType::kCloseDone) << row.what;
    if (row.status) {
      EXPECT_EQ(got[1].type, MessageType::kCommandDone) << row.what;
      EXPECT_EQ(got[1].command_type, static_cast<std::uint32_t>(*row.status)) << row.what;
      if (row.check) row.check(got[1].information);
    }
    std::vector<std::string> ops;
    for (const auto& r : sim::testing::Requests()) ops.push_back(r.op);
    EXPECT_EQ(ops, row.trace) << row.what;
  }
}

#if TXL_HAVE_LIBMBIM
// The Linux mobile-broadband link (libmbim) against a device that misbehaves as a row says: every
// command completes, once, with a defined result, and nothing waits longer than the link's time-out.
enum class Misdeed {
  kNone,
  kFragments,                // the answer cut into the smallest fragments a device may send
  kOtherTransactionFirst,    // an answer to a transaction never asked, then the right one
  kOnlyOtherTransaction,     // only the answer to a transaction never asked
  kBusy,                     // the command refused with an MBIM status
  kFunctionError,            // FUNCTION_ERROR instead of an answer
  kShortHeader,              // a header whose length is less than a header
  kOverrunningInformation,   // an answer whose information length runs past its message
  kVanish,                   // the device goes away mid-request
};

// An MBIM device node on a pseudo-terminal: `serve` gets what the host writes, in whatever pieces
// it arrives, and answers through Send.
class PtyDevice {
 public:
  using Serve = std::function<void(PtyDevice&, std::span<const std::uint8_t>)>;
  explicit PtyDevice(Serve serve) : pty_(plat::OpenPseudoTerminal()), serve_(std::move(serve)) {
    if (pty_) path_ = pty_->path();
    thread_ = std::thread([this] {
      plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);  // a simulated modem behind it
      Loop();
      plat::CoUninitialize();
    });
  }
  ~PtyDevice() {
    stop_ = true;
    thread_.join();
  }
  const std::string& path() const { return path_; }
  void Send(const Bytes& b) {
    if (pty_) pty_->Write(b);
  }
  // The device goes away: its node closes under the host.
  void Vanish() { pty_.reset(); }

 private:
  void Loop() {
    while (!stop_ && pty_) {
      if (pty_->WaitForInput(1000) != plat::PseudoTerminal::Wait::kData) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // no host yet, or stdin closed
        continue;
      }
      std::uint8_t buffer[4096];
      const long n = pty_->Read(buffer, sizeof buffer);
      if (n > 0) serve_(*this, std::span(buffer, static_cast<std::size_t>(n)));
    }
  }

  std::unique_ptr<plat::PseudoTerminal> pty_;
  std::string path_;
  Serve serve_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

Bytes SomeInformation() {
  Bytes info(300);
  std::iota(info.begin(), info.end(), std::uint8_t{7});
  return info;
}

// A device that opens and closes as it should and answers every command with `misdeed`.
PtyDevice::Serve Misbehaving(Misdeed misdeed) {
  auto reader = std::make_shared<StreamReader>();
  auto assembler = std::make_shared<Assembler>();
  return [=](PtyDevice& device, std::span<const std::uint8_t> bytes) {
    reader->Append(bytes);
    Bytes raw;
    while (reader->Take(&raw) == StreamReader::Result::kMessage) {
      const Assembler::Outcome o = assembler->Feed(raw);
      if (o.kind != Assembler::Outcome::Kind::kMessage) continue;
      const Message& m = o.message;
      const std::uint32_t tid = m.transaction_id;
      if (m.type == MessageType::kOpen) device.Send(EncodeOpenDone(tid, Status::kSuccess));
      if (m.type == MessageType::kClose) device.Send(EncodeCloseDone(tid, Status::kSuccess));
      if (m.type != MessageType::kCommand) continue;
      auto send_done = [&](std::uint32_t id, Status status, std::uint32_t max) {
        for (const Bytes& b : EncodeCommandDone(id, m.service, m.cid, status, SomeInformation(), max)) device.Send(b);
      };
      switch (misdeed) {
        case Misdeed::kNone: send_done(tid, Status::kSuccess, kMaxControlTransfer); break;
        case Misdeed::kFragments: send_done(tid, Status::kSuccess, kMinControlTransfer); break;
        case Misdeed::kOtherTransactionFirst:
          send_done(tid + 100, Status::kSuccess, kMaxControlTransfer);
          send_done(tid, Status::kSuccess, kMaxControlTransfer);
          break;
        case Misdeed::kOnlyOtherTransaction: send_done(tid + 100, Status::kSuccess, kMaxControlTransfer); break;
        case Misdeed::kBusy: send_done(tid, Status::kBusy, kMaxControlTransfer); break;
        case Misdeed::kFunctionError: device.Send(EncodeFunctionError(tid, ProtocolError::kUnknown)); break;
        case Misdeed::kShortHeader: {
          Bytes b;
          plat::AppendU32(b, static_cast<std::uint32_t>(MessageType::kCommandDone));
          plat::AppendU32(b, 8);
          plat::AppendU32(b, tid);
          device.Send(b);
          break;
        }
        case Misdeed::kOverrunningInformation: {
          Bytes b = EncodeCommandDone(tid, m.service, m.cid, Status::kSuccess, SomeInformation(), kMaxControlTransfer)
                        .front();
          b[44] = 0xFF;  // the information length, 300 in truth
          b[45] = 0x7F;
          device.Send(b);
          break;
        }
        case Misdeed::kVanish: device.Vanish(); return;
      }
    }
  };
}

TEST(MbimLinkFaults, EveryCommandCompletesWithADefinedResult) {
  plat::SetEnv("TXL_TIME_SCALE", "0.01");  // the link's time-outs at their least, one second
  const plat::GUID ms_sar = {0x68223D04, 0x9F6C, 0x4E0F, {0x82, 0x2D, 0x28, 0x44, 0x1F, 0xB7, 0x23, 0x40}};
  const plat::HRESULT timed_out = plat::HresultFromWin32(1460), gone = plat::HresultFromWin32(1167);
  const struct {
    Misdeed misdeed;
    plat::HRESULT result;
    bool answered;  // with the device's information
  } rows[] = {
      {Misdeed::kNone, plat::S_OK, true},
      {Misdeed::kFragments, plat::S_OK, true},
      {Misdeed::kOtherTransactionFirst, plat::S_OK, true},
      {Misdeed::kOnlyOtherTransaction, timed_out, false},
      {Misdeed::kBusy, plat::HresultFromMbimStatus(1), false},
      {Misdeed::kFunctionError, plat::E_FAIL, false},
      // libmbim drops what it cannot read; the command then times out.
      {Misdeed::kShortHeader, timed_out, false},
      {Misdeed::kOverrunningInformation, timed_out, false},
      // At once, not as a time-out; and so is every command after it.
      {Misdeed::kVanish, gone, false},
  };
  const auto limit = std::chrono::seconds(plat::mbim_os::CommandTimeoutSeconds() + 3);
  for (const auto& row : rows) {
    const int n = static_cast<int>(row.misdeed);
    PtyDevice device(Misbehaving(row.misdeed));
    ASSERT_FALSE(device.path().empty());
    plat::HRESULT opened = plat::E_FAIL;
    auto link = plat::mbim_os::MbimLink::Open(device.path(), false, &opened);
    ASSERT_TRUE(link) << "row " << n << std::hex << " open " << opened;
    // Twice: what follows a misdeed on the same link is as defined as the misdeed.
    for (int round = 0; round < 2; ++round) {
      auto calls = std::make_shared<std::atomic<int>>(0);
      auto answer = std::make_shared<std::promise<plat::mbim_os::MbimLink::Result>>();
      std::future<plat::mbim_os::MbimLink::Result> result = answer->get_future();
      link->Command(ms_sar, 1, false, {}, [calls, answer](plat::mbim_os::MbimLink::Result r) {
        if ((*calls)++ == 0) answer->set_value(std::move(r));
      });
      ASSERT_EQ(result.wait_for(limit), std::future_status::ready) << "row " << n << " round " << round;
      const auto r = result.get();
      EXPECT_EQ(r.status, row.result) << "row " << n << " round " << round << std::hex << " status " << r.status;
      EXPECT_EQ(r.information, row.answered ? SomeInformation() : Bytes{}) << "row " << n;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_EQ(calls->load(), 1) << "row " << n << ": completed more than once";
    }
    EXPECT_EQ(link->gone(), row.result == gone) << "row " << n;  // the next user opens a new link
  }
}
// The Linux mobile-broadband classes (libmbim) reaching the simulated modem through its MBIM device
// node answer as the simulated stack does in-process: the same interface, the same completions.
class MbimLinuxStackTest : public simtest::SimTest {};

TEST_F(MbimLinuxStackTest, AnswersAsTheInProcessStackDoes) {
  // The modem counts as transmitting for its hysteresis after each change, judged by the clock:
  // at full time its three seconds cover both stacks' queries on any machine, where a scaled 30 ms
  // ended between them on a busy one. Nothing here waits for a time-out.
  struct FullTime {
    std::optional<std::string> saved = plat::GetEnv("TXL_TIME_SCALE");
    FullTime() { plat::SetEnv("TXL_TIME_SCALE", "1"); }
    ~FullTime() { plat::SetEnv("TXL_TIME_SCALE", saved ? saved->c_str() : nullptr); }
  } full_time;
  SimDevice modem;
  Endpoint endpoint(modem);
  PtyDevice node([&](PtyDevice& device, std::span<const std::uint8_t> bytes) {
    for (const Bytes& b : endpoint.Receive(bytes)) device.Send(b);
  });
  ASSERT_FALSE(node.path().empty());
  plat::SetEnv("TXL_MBIM_DEVICE", node.path().c_str());
  plat::SetEnv("TXL_MBIM_PROXY", "0");
  const simtest::ServiceClient::Creator os = plat::mbim_os::CreateInstance;
  const std::u16string os_interface = plat::mbim_os::InterfaceIdFor(node.path());

  {  // the interface: capabilities, readiness, SIM
    plat::ComPtr<plat::IMbnInterfaceManager> manager;
    ASSERT_EQ(plat::S_OK, os(plat::CLSID_MbnInterfaceManager, plat::IID_IMbnInterfaceManager, manager.put_void()));
    plat::ComPtr<plat::IMbnInterface> iface;
    ASSERT_EQ(plat::S_OK, manager->GetInterface(os_interface.c_str(), iface.put()));
    plat::MBN_INTERFACE_CAPS caps{};
    ASSERT_EQ(plat::S_OK, iface->GetInterfaceCapability(&caps));
    EXPECT_EQ(std::u16string(caps.model), u"Osprey LTE Module");
    EXPECT_EQ(std::u16string(caps.deviceID).size(), 15u);
    plat::FreeInterfaceCaps(&caps);
    plat::MBN_READY_STATE ready = plat::MBN_READY_STATE_OFF;
    EXPECT_EQ(plat::S_OK, iface->GetReadyState(&ready));
    EXPECT_EQ(ready, plat::MBN_READY_STATE_INITIALIZED);
    plat::ComPtr<plat::IMbnSubscriberInformation> subscriber;
    ASSERT_EQ(plat::S_OK, iface->GetSubscriberInformation(subscriber.put()));
    plat::BStr iccid;
    EXPECT_EQ(plat::S_OK, subscriber->get_SimIccID(iccid.put()));
    EXPECT_EQ(iccid.str(), u"89014103211118510720");
  }

  auto words = [](std::initializer_list<std::uint32_t> w) {
    Bytes b;
    for (std::uint32_t v : w) plat::AppendU32(b, v);
    return b;
  };
  const struct {
    const char* what;
    bool set;
    std::uint32_t cid;
    Bytes data;
  } rows[] = {
      {"MS SAR configuration", false, 1, {}},
      {"a back-off index set", true, 1, words({1, 1, 1, 20, 8, 0, 3})},
      {"the configuration after it", false, 1, {}},
      {"a set whose pair points past the end", true, 1, words({1, 1, 1, 24, 8, 0, 3})},
      {"transmission status set", true, 2, words({1, 3})},
      {"transmission status", false, 2, {}},
  };
  simtest::ServiceClient in_process(simtest::kMsSarId);
  simtest::ServiceClient linux_stack(simtest::kMsSarId, os, os_interface);
  for (const auto& row : rows) {
    const simtest::Delivered want = row.set ? in_process.Set(row.cid, row.data) : in_process.Query(row.cid, row.data);
    const simtest::Delivered got = row.set ? linux_stack.Set(row.cid, row.data) : linux_stack.Query(row.cid, row.data);
    EXPECT_EQ(got.kind, want.kind) << row.what;
    EXPECT_EQ(got.status, want.status) << row.what << std::hex << " " << got.status << " " << want.status;
    EXPECT_EQ(got.data, want.data) << row.what;
  }

  plat::ComPtr<plat::IMbnDeviceServicesManager> manager;
  ASSERT_EQ(plat::S_OK, os(plat::CLSID_MbnDeviceServicesManager, plat::IID_IMbnDeviceServicesManager,
                           manager.put_void()));
  plat::ComPtr<plat::IMbnDeviceServicesContext> context;
  plat::BStr iface(os_interface);
  ASSERT_EQ(plat::S_OK, manager->GetDeviceServicesContext(iface.get(), context.put()));
  plat::ComPtr<plat::IMbnDeviceService> absent;
  plat::BStr absent_id(u"{12345678-0001-0002-0304-05060708090A}");
  EXPECT_EQ(plat::HresultFromWin32(1168), context->GetDeviceService(absent_id.get(), absent.put()));  // not found
  plat::SetEnv("TXL_MBIM_DEVICE", nullptr);
  plat::SetEnv("TXL_MBIM_PROXY", nullptr);
}
#endif

}  // namespace
}  // namespace sim::mbim
