// txlsim: the built program, each case on a notebook of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

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

}  // namespace
