// txlsim: the built program, each case on a notebook of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

#if TXL_HAVE_LIBMBIM
#include <signal.h>

#include <chrono>
#include <thread>

#include "platform/mbim_status.h"
#include "platform/process.h"
#include "platform/posix/mbim/mbim_link.h"
#endif

namespace {

using namespace txltest;

class TxlsimTest : public ::testing::Test {
 protected:
  fs::path Machine() const { return dir_.path() / "machine"; }
  fs::path Ini() const { return Machine() / "modem" / "modem.ini"; }

  int Run(const std::string& args) {
    const std::string cmd = "cd / && env TXL_MACHINE_DIR='" + Machine().string() + "' '" + std::string(TXLSIM) + "' " +
                            args + " > '" + (dir_.path() / "out.txt").string() + "' 2> '" +
                            (dir_.path() / "err.txt").string() + "'";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Out() const { return ReadFile(dir_.path() / "out.txt"); }
  std::string Err() const { return ReadFile(dir_.path() / "err.txt"); }

  TempDir dir_;
};

TEST_F(TxlsimTest, SetEditsModemIni) {
  const struct {
    const char* before;  // nullptr: no file
    const char* arg;
    const char* after;
  } cases[] = {
      {nullptr, "modem.model=X1", "[modem]\nmodel=X1\n"},
      {"; keep me\n[modem]\nfamily = osprey\nimei=1\n", "modem.FAMILY=kestrel", "; keep me\n[modem]\nFAMILY=kestrel\nimei=1\n"},
      {"[modem]\nfamily=osprey\n\n[faults]\nlatency_ms=5\n", "modem.imei=42",
       "[modem]\nfamily=osprey\nimei=42\n\n[faults]\nlatency_ms=5\n"},
      {"[modem]\nfamily=osprey", "at_replies.AT+X=OK", "[modem]\nfamily=osprey\n\n[at_replies]\nAT+X=OK\n"},
  };
  for (const auto& c : cases) {
    fs::remove_all(Machine());
    if (c.before) WriteFile(Ini(), c.before);
    ASSERT_EQ(Run(std::string("set '") + c.arg + "'"), 0) << c.arg << ": " << Err();
    EXPECT_EQ(ReadFile(Ini()), c.after) << c.arg;
  }
  for (const char* bad : {"modem", "modem.model", ".model=x", "modem.=x", "model=x"}) {
    EXPECT_EQ(Run(std::string("set '") + bad + "'"), 2) << bad;
    EXPECT_NE(Err().find("SECTION.KEY=VALUE"), std::string::npos) << bad;
  }
}

TEST_F(TxlsimTest, ShowOnAFreshNotebook) {
  ASSERT_EQ(Run("show"), 0) << Err();
  const std::string out = Out();
  EXPECT_NE(out.find("family osprey"), std::string::npos) << out;
  const auto profile1 = out.find("profile 1:");
  ASSERT_NE(profile1, std::string::npos) << out;
  const auto block3g = out.find("3G block", profile1);
  ASSERT_NE(block3g, std::string::npos) << out;
  EXPECT_NE(out.find("band ", block3g), std::string::npos) << out;
  EXPECT_NE(out.find(" dBm", block3g), std::string::npos) << out;
  EXPECT_NE(out.find("Body_Sar_ON absent"), std::string::npos) << out;
}

TEST_F(TxlsimTest, ShowReportsWhatCannotBeRead) {
  // Folders where the modem's item and its switch state should be files: said, not a crash.
  fs::create_directories(Machine() / "modem" / "nvm" / "103d0000.bin");
  fs::create_directories(Machine() / "modem" / "body_sar_on.bin");
  EXPECT_EQ(Run("show"), 1) << Err();
  EXPECT_NE(Out().find("SAR parameter item: cannot be read"), std::string::npos) << Out();
  EXPECT_NE(Out().find("firmware: ON unreadable"), std::string::npos) << Out();
  EXPECT_NE(Err().find("103d0000.bin is no readable file"), std::string::npos) << Err();
  EXPECT_NE(Out().find("Body_Sar_ON absent"), std::string::npos) << "the rest is still shown: " << Out();
}

TEST_F(TxlsimTest, TraceDecodesRequests) {
  WriteFile(Machine() / "modem" / "trace.jsonl",
            // An NVM write of two bytes at offset 1 of the SAR item, an AT text, and a line of nothing known.
            "{\"op\":\"set\",\"iface\":\"i\",\"service\":\"{E10FF51B-AC2D-4104-86F6-8D621B430189}\",\"cid\":1,"
            "\"data\":\"00003D10010000000200000001020000\"}\n"
            "{\"op\":\"set\",\"iface\":\"i\",\"service\":\"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}\",\"cid\":1,"
            "\"data\":\"41542B4347534E0D0A0000\"}\n"
            "not json\n");
  ASSERT_EQ(Run("trace"), 0) << Err();
  const auto lines = Lines(Out());
  ASSERT_EQ(lines.size(), 3u) << Out();
  EXPECT_EQ(lines[0], "set NVM item 0x103d0000 offset 1 length 2: write 2 bytes");
  EXPECT_EQ(lines[1], "set AT tunnel \"AT+CGSN\\r\\n\"");
  EXPECT_EQ(lines[2], "raw not json");
}

#if TXL_HAVE_LIBMBIM
// txlsim mbim as libmbim meets it: the platform's own link to an MBIM device, opened directly on
// the pseudo-terminal, asks the simulated modem and gets its answers, its failures as the errors a
// Windows caller would see, and a time-out for a completion the modem drops.
TEST_F(TxlsimTest, MbimDeviceAnswersTheLinuxMobileBroadbandLink) {
  WriteFile(Ini(), "[faults]\nfail=nvm:query\ndrop=at_tunnel:query\n");
  const fs::path out = dir_.path() / "mbim.txt", pid = dir_.path() / "mbim.pid";
  // The server's standard input is held open by `sleep`; its own pid is kept to end it.
  const std::string start = "cd / && (sleep 120 </dev/null 2>/dev/null | env TXL_MACHINE_DIR='" + Machine().string() +
                            "' TXL_TIME_SCALE=0.01 '" + std::string(TXLSIM) + "' mbim > '" + out.string() +
                            "' 2>&1 & echo $! > '" + pid.string() + "')";
  ASSERT_EQ(std::system(start.c_str()), 0);
  std::string path;
  for (int i = 0; i < 200 && path.empty(); ++i) {
    const auto lines = Lines(ReadFile(out));
    if (!lines.empty()) path = lines[0];
    else std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(path.empty()) << "txlsim mbim printed no device";
  const int server = std::stoi(ReadFile(pid));
  plat::SetEnv("TXL_TIME_SCALE", "0.01");  // the link's time-outs, as the server's

  plat::HRESULT opened = plat::E_FAIL;
  auto link = plat::mbim_os::MbimLink::Open(path, false, &opened);
  ASSERT_TRUE(link) << std::hex << opened;
  const plat::GUID basic = {0xa289cc33, 0xbcbb, 0x8b4f, {0xb6, 0xb0, 0x13, 0x3e, 0xc2, 0xaa, 0xe6, 0xdf}};
  const plat::GUID ms_sar = {0x68223D04, 0x9F6C, 0x4E0F, {0x82, 0x2D, 0x28, 0x44, 0x1F, 0xB7, 0x23, 0x40}};
  const plat::GUID nvm = {0xe10ff51b, 0xac2d, 0x4104, {0x86, 0xf6, 0x8d, 0x62, 0x1b, 0x43, 0x01, 0x89}};
  const plat::GUID tunnel = {0xDA138C64, 0x6515, 0x4893, {0x92, 0xB2, 0xA1, 0xE1, 0xCA, 0x7C, 0x81, 0xCA}};
  const plat::GUID absent = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  const struct {
    const char* what;
    plat::GUID service;
    std::uint32_t cid;
    plat::HRESULT status;
    std::size_t least;  // bytes the answer carries at least
  } rows[] = {
      {"device caps", basic, 1, plat::S_OK, 64},
      {"MS SAR configuration", ms_sar, 1, plat::S_OK, 16},
      {"a failed NVM read", nvm, 1, plat::E_FAIL, 0},
      {"a dropped AT tunnel command times out", tunnel, 1, plat::HresultFromWin32(1460), 0},
      {"a service the modem lacks", absent, 1, plat::HresultFromMbimStatus(9), 0},
  };
  for (const auto& row : rows) {
    const auto r = link->CommandAndWait(row.service, row.cid, false, {});
    EXPECT_EQ(r.status, row.status) << row.what;
    EXPECT_GE(r.information.size(), row.least) << row.what;
  }
  // The module's model travels as the device's hardware information.
  const auto caps = link->CommandAndWait(basic, 1, false, {});
  std::string hardware;
  if (caps.information.size() >= 64) {
    const std::uint32_t at = caps.information[56] | caps.information[57] << 8;
    const std::uint32_t size = caps.information[60] | caps.information[61] << 8;
    for (std::uint32_t i = at; i + 1 < at + size && i < caps.information.size(); i += 2)
      hardware.push_back(static_cast<char>(caps.information[i]));
  }
  EXPECT_EQ(hardware, "Osprey LTE Module");
  link.reset();
  kill(server, SIGTERM);
}
#endif

}  // namespace
