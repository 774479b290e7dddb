#include "platform/serial.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/process.h"
#include "pty_peer.h"
#include "test_support.h"

namespace {

class SerialPort : public ::testing::Test {
 protected:
  txl_test::TempFolder machine_;
  txl_test::ScopedEnv env_{"TXL_MACHINE_DIR", machine_.path().string().c_str()};
};

TEST_F(SerialPort, RefusesNumbersOutOfRangeAndMissingPorts) {
  // A link for every refused number: only the range check can refuse them.
  for (int port : {-1, 0, 256, 100000}) {
    txl_test::PtyPeer peer(machine_.path(), port);
    std::u16string failed = u"stale";
    EXPECT_EQ(plat::OpenSerialPort(port, &failed), nullptr) << port;
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND) << port;
    EXPECT_TRUE(failed.empty()) << port;
  }
  EXPECT_EQ(plat::OpenSerialPort(7, nullptr), nullptr) << "no dev/COM7";
}

TEST_F(SerialPort, TerminalIsSetUpAndNotShared) {
  txl_test::PtyPeer peer(machine_.path(), 255);
  ASSERT_TRUE(peer.ok());
  std::u16string failed = u"stale";
  auto port = plat::OpenSerialPort(255, &failed);
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(failed.empty());
  EXPECT_EQ(plat::OpenSerialPort(255, nullptr), nullptr) << "a second opener";
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);

  // Raw: carriage return, line feed and the control characters pass unchanged both ways.
  const std::string bytes = std::string("A\r\n\x03\x11\x13\x1a", 7) + '\0' + "\xff";
  for (char c : bytes) ASSERT_TRUE(port->WriteByte(static_cast<plat::BYTE>(c), 1000));
  EXPECT_EQ(peer.Read(bytes.size(), 5000), bytes);
  ASSERT_TRUE(peer.Write(bytes));
  std::string got(bytes.size(), '?');
  EXPECT_EQ(port->Read(reinterpret_cast<plat::BYTE*>(got.data()), static_cast<plat::DWORD>(got.size()), 500000),
            bytes.size());
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(port->BytesWaiting(), 0u);

  port.reset();
  EXPECT_NE(plat::OpenSerialPort(255, nullptr), nullptr) << "free again once closed";
}

TEST_F(SerialPort, NonTerminalOpensButReportsTheFailedStep) {
  std::filesystem::create_directories(machine_.path() / "dev");
  std::ofstream(machine_.path() / "dev" / "COM3") << "x";
  std::u16string failed;
  EXPECT_NE(plat::OpenSerialPort(3, &failed), nullptr);
  EXPECT_EQ(failed, u"GetCommState()");
}

}  // namespace
