#include "platform/crash_dump.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "child_process.h"
#include "test_support.h"

namespace {

using txl_test::RunChild;
using txl_test::ScopedEnv;
using txl_test::TempFolder;

constexpr char kDumpPath[] = "C:\\Windows\\Minidump\\test.dump";

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class CrashDumpTest : public ::testing::Test {
 protected:
  std::filesystem::path Dump() const { return machine_.path() / "Windows" / "Minidump" / "test.dump"; }
  TempFolder machine_;
  ScopedEnv env_{"TXL_MACHINE_DIR", machine_.path().string().c_str()};
};

TEST_F(CrashDumpTest, EachFatalSignalIsRecordedAndStillEndsTheProcess) {
  for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    SCOPED_TRACE(sig);
    std::filesystem::remove_all(machine_.path() / "Windows");
    std::filesystem::create_directories(Dump().parent_path());
    txl_test::ChildProcess child({PLATFORM_CHILD, "crash", kDumpPath, std::to_string(sig)});
    const int status = child.Wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    const std::string report = ReadText(Dump());
    const std::string pid = std::to_string(child.pid());
    // A single-threaded child crashes on its main thread, whose id is the process id.
    EXPECT_EQ(report.rfind("signal " + std::to_string(sig) + "\nprocess " + pid + "\nthread " + pid + "\nstack:\n", 0),
              0u)
        << report;
    EXPECT_NE(report.find("platform_child"), std::string::npos) << "the stack names the crashing program\n" << report;
  }
}

TEST_F(CrashDumpTest, AnExistingRecordIsLeftAsItWas) {
  std::filesystem::create_directories(Dump().parent_path());
  std::ofstream(Dump()) << "first crash";
  const int status = RunChild({PLATFORM_CHILD, "crash", kDumpPath, std::to_string(SIGSEGV)});
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status;
  EXPECT_EQ(ReadText(Dump()), "first crash");
}

TEST_F(CrashDumpTest, AMissingFolderIsNotCreated) {
  const int status = RunChild({PLATFORM_CHILD, "crash", kDumpPath, std::to_string(SIGABRT)});
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
  EXPECT_FALSE(std::filesystem::exists(Dump().parent_path()));
}

}  // namespace
