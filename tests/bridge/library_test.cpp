// The built library as a client meets it: VexelSarDll and a program beside it, copied into a
// folder of their own, run as a separate process against a fresh simulated notebook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace txltest;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = dir_.path() / "host";
    fs::create_directories(host_);
    fs::copy_file(fs::path(TXL_BIN_DIR) / "bridge_walk", host_ / "bridge_walk");
    fs::copy_file(fs::path(TXL_BIN_DIR) / "VexelSarDll.so", host_ / "VexelSarDll.so");
  }

  // Runs the walk with the given extra environment; returns its exit code, output in out_.
  int Run(const std::string& env = "TXL_SIM_TRACE=1", const std::string& args = "") {
    const fs::path log = dir_.path() / "out.txt";
    const std::string cmd = "cd / && env TXL_MACHINE_DIR='" + (dir_.path() / "machine").string() + "' " + env +
                            " '" + (host_ / "bridge_walk").string() + "' " + args + " > '" + log.string() + "' 2>&1";
    const int status = std::system(cmd.c_str());
    out_ = ReadFile(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> LogFiles() {
    std::vector<std::string> names;
    if (!fs::exists(host_ / "Dll_log")) return names;
    for (const auto& e : fs::directory_iterator(host_ / "Dll_log")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  fs::path host_;
  std::string out_;
};

TEST_F(LibraryTest, WalksOneConnectionAndEveryRequestReachesTheTrace) {
  ASSERT_EQ(Run(), 0) << out_;
  const auto trace = Lines(ReadFile(dir_.path() / "machine" / "modem" / "trace.jsonl"));
  ASSERT_EQ(trace.size(), 4u) << out_;
  const std::regex open(R"(\{"op":"open","iface":"\{[0-9A-F-]{36}\}","service":"\{e10ff51b-ac2d-4104-86f6-8d621b430189\}","cid":0,"data":""\})");
  EXPECT_TRUE(std::regex_match(trace[0], open)) << trace[0];
  EXPECT_NE(trace[1].find(R"("op":"query")"), std::string::npos);
  EXPECT_NE(trace[1].find(R"("cid":1,"data":"00003D100000000002000000")"), std::string::npos) << trace[1];
  EXPECT_NE(trace[2].find(R"("op":"set")"), std::string::npos);
  EXPECT_NE(trace[2].find(R"("data":"00003D10000000000100000001")"), std::string::npos) << trace[2];
  EXPECT_NE(trace[3].find(R"("op":"close")"), std::string::npos);
  EXPECT_NE(out_.find("== EnumInterface -> 0x00000000, 1 interface(s)"), std::string::npos) << out_;
  EXPECT_NE(out_.find("== DisconnectInterface -> 0"), std::string::npos) << out_;
}

TEST_F(LibraryTest, LoadCreatesTheLogFolderAndOneDatedFile) {
  ASSERT_EQ(Run(), 0) << out_;
  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(\d{4}-\d{2}-\d{2}_\d{2}_\d{2}_\d{2}\.txt)"))) << files[0];
  const std::string log = ReadFile(host_ / "Dll_log" / files[0]);
  const auto lines = Lines(log);
  ASSERT_GE(lines.size(), 3u) << log;
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{4}-\d{1,2}-\d{1,2}\t\d{2}:\d{2}:\d{2}\.\d{3}\tSarLinkDll version: 1\.2\.6)")))
      << lines[0];
  EXPECT_NE(lines[1].find("\tDLL_PROCESS_ATTACH"), std::string::npos);
  EXPECT_NE(lines.back().find("\tDLL_PROCESS_DETACH"), std::string::npos);
  EXPECT_NE(log.find("\tQueryCommand: deviceServiceID: {e10ff51b-ac2d-4104-86f6-8d621b430189}.\n"), std::string::npos);
  // Level 2 writes the same lines to the console as well.
  EXPECT_NE(out_.find("\tDLL_PROCESS_ATTACH\n"), std::string::npos) << out_;
}

TEST_F(LibraryTest, LoadWithFiveDatedFilesDeletesTheFirstAndAddsItsOwn) {
  const std::vector<std::string> old = {"2020-01-01_00_00_00.txt", "2020-01-02_00_00_00.txt", "2020-01-03_00_00_00.txt",
                                        "2020-01-04_00_00_00.txt", "2020-01-05_00_00_00.txt"};
  for (const auto& f : old) WriteFile(host_ / "Dll_log" / f, "old");
  WriteFile(host_ / "Dll_log" / "keep.me", "not dated");
  ASSERT_EQ(Run(), 0) << out_;
  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 6u);
  EXPECT_EQ(std::count(files.begin(), files.end(), old[0]), 0);
  for (std::size_t i = 1; i < old.size(); ++i) EXPECT_EQ(std::count(files.begin(), files.end(), old[i]), 1) << old[i];
  EXPECT_EQ(std::count(files.begin(), files.end(), "keep.me"), 1);
  EXPECT_NE(out_.find("remove: "), std::string::npos);
}

TEST_F(LibraryTest, ReadinessProbeThroughTheEntryPointOpensBothServices) {
  ASSERT_EQ(Run("TXL_SIM_TRACE=1", "--at 'AT\\r\\n'"), 0) << out_;
  EXPECT_NE(out_.find(R"(== AtSendInterface("AT\r\n") -> 0 (0x00000000), reply "OK" (2 characters))"), std::string::npos)
      << out_;
  const std::string trace = ReadFile(dir_.path() / "machine" / "modem" / "trace.jsonl");
  EXPECT_NE(trace.find(R"("op":"open","iface":)"), std::string::npos);
  EXPECT_NE(trace.find(R"("service":"{68223D04-9F6C-4E0F-822D-28441FB72340}","cid":0)"), std::string::npos) << trace;
  EXPECT_NE(trace.find(R"("service":"{e10ff51b-ac2d-4104-86f6-8d621b430189}","cid":0)"), std::string::npos) << trace;
}

TEST_F(LibraryTest, TraceStaysEmptyUnlessAskedFor) {
  ASSERT_EQ(Run("TXL_SIM_TRACE=0"), 0) << out_;
  EXPECT_FALSE(fs::exists(dir_.path() / "machine" / "modem" / "trace.jsonl"));
}

TEST_F(LibraryTest, WalkEndsCleanlyWhateverTheNumberOfInterfaces) {
  struct Case {
    int interfaces;
    int exit_code;  // 1: no modem, the walk ends after the enumeration
    const char* listed;
  };
  for (const Case c : {Case{0, 1, "== EnumInterface -> 0x00000000, 0 interface(s)"},
                       Case{64, 0, "== EnumInterface -> 0x00000000, 32 interface(s)"}}) {
    WriteFile(dir_.path() / "machine" / "modem" / "modem.ini",
              "[module]\ninterfaces=" + std::to_string(c.interfaces) + "\n");
    EXPECT_EQ(Run(), c.exit_code) << out_;
    EXPECT_NE(out_.find(c.listed), std::string::npos) << out_;
  }
  EXPECT_NE(out_.find("== DisconnectInterface -> 0"), std::string::npos) << out_;
}

}  // namespace
