// The serial-port channel against a pseudo-terminal with a small responder on the far side.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "api/support/serial/serial.h"
#include "platform/clock.h"
#include "platform/sync.h"
#include "tests/platform/pty_peer.h"
#include "tests/platform/test_support.h"

namespace {

using IGlobalTools::CSerial;

constexpr int kPort = 4;

const std::uint8_t* Data(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.ok());
    ASSERT_EQ(serial_.OpenPort(kPort), plat::S_OK);
  }

  // Answers one command of `command_size` bytes with `reply`.
  std::thread Responder(std::size_t command_size, std::string reply) {
    return std::thread([this, command_size, reply] {
      heard_ = peer_.Read(command_size, 5000);
      if (heard_.size() == command_size) peer_.Write(reply);
    });
  }

  txl_test::TempFolder machine_;
  txl_test::ScopedEnv env_{"TXL_MACHINE_DIR", machine_.path().string().c_str()};
  // The 200 ms between command and reading must leave the responder time to answer.
  txl_test::ScopedEnv scale_{"TXL_TIME_SCALE", "1"};
  txl_test::PtyPeer peer_{machine_.path(), kPort};
  CSerial serial_;
  std::string heard_;
};

TEST_F(SerialTest, TransactionSendsTheCommandAndTakesTheReply) {
  std::thread responder = Responder(4, "\r\nOK\r\n");
  std::string reply = "old";
  EXPECT_EQ(serial_.Transact(Data("AT\r\n"), 4, &reply), plat::S_OK);
  responder.join();
  EXPECT_EQ(heard_, "AT\r\n");
  EXPECT_EQ(reply, "\r\nOK\r\n");

  EXPECT_EQ(serial_.OpenPort(kPort + 1), plat::S_OK) << "already open: nothing changes";
  EXPECT_EQ(serial_.Send(Data("ATI\r\n"), 5), plat::S_OK);
  EXPECT_EQ(peer_.Read(5, 5000), "ATI\r\n");

  EXPECT_TRUE(serial_.ClosePort());
  EXPECT_TRUE(serial_.ClosePort());
  EXPECT_EQ(serial_.Transact(Data("AT\r\n"), 4, &reply), plat::E_FAIL) << "closed";
  EXPECT_EQ(serial_.Send(Data("AT"), 2), plat::E_FAIL);
  EXPECT_EQ(serial_.Receive(&reply), plat::E_FAIL);
}

TEST_F(SerialTest, OneByteCommandIsRefusedWithoutReadingOrSending) {
  ASSERT_TRUE(peer_.Write("OK\r\n"));  // an answer already waiting on the line
  std::string reply = "untouched";
  EXPECT_EQ(serial_.Transact(Data("A"), 1, &reply), plat::E_FAIL);
  EXPECT_EQ(reply, "untouched");
  EXPECT_EQ(peer_.Read(1, 100), "") << "nothing went out";
  // The waiting answer is still there for Receive (the pseudo-terminal hands it over shortly).
  plat::HRESULT received = plat::E_FAIL;
  for (int i = 0; i < 100 && received != plat::S_OK; ++i) {
    received = serial_.Receive(&reply);
    if (received != plat::S_OK) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(received, plat::S_OK);
  EXPECT_EQ(reply, "OK\r\n");
}

TEST_F(SerialTest, SilentPeerFailsAfterThePause) {
  std::string reply = "untouched";
  const auto started = plat::MonotonicMs();
  EXPECT_EQ(serial_.Transact(Data("AT\r\n"), 4, &reply), plat::E_FAIL);
  EXPECT_GE(plat::MonotonicMs() - started, plat::ScaleMs(CSerial::kTransactPauseMs));
  EXPECT_EQ(reply, "untouched");
  EXPECT_EQ(peer_.Read(4, 5000), "AT\r\n") << "the command itself went out";
  EXPECT_EQ(serial_.Receive(&reply), plat::E_FAIL);
}

TEST_F(SerialTest, OneByteReplyCountsAsNone) {
  std::thread responder = Responder(4, "K");
  std::string reply = "untouched";
  EXPECT_EQ(serial_.Transact(Data("AT\r\n"), 4, &reply), plat::E_FAIL);
  responder.join();
  EXPECT_EQ(reply, "untouched");
}

}  // namespace
