// Command-line splitting, program launch and the notebook's control manager as callers meet it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/launch.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

using plat::DWORD;

TEST(CommandLine, SplitsByWindowsRules) {
  struct Case {
    std::u16string line;
    std::vector<std::u16string> args;
  } cases[] = {
      {u"", {}},
      {u"  a  b\tc ", {u"a", u"b", u"c"}},
      {u"\"C:\\Program Files\\Tixel Utility.exe\"", {u"C:\\Program Files\\Tixel Utility.exe"}},
      {u"Tixel Utility.exe", {u"Tixel", u"Utility.exe"}},
      {u"a\\\\\\\"b c", {u"a\\\"b", u"c"}},      // 3 backslashes + quote: one backslash, literal quote
      {u"\"a\\\\\" b", {u"a\\", u"b"}},           // 2 backslashes + quote: one backslash, group ends
      {u"a\\b\\\\c", {u"a\\b\\\\c"}},             // backslashes elsewhere are literal
      {u"\"\" x", {u"", u"x"}},                   // an empty quoted argument counts
      {u"\"say \"\"hi\"\"\"", {u"say \"hi\""}},   // doubled quotes inside a group
  };
  for (const auto& c : cases) EXPECT_EQ(plat::SplitCommandLine(c.line), c.args) << plat::Utf16ToUtf8(c.line);
}

TEST(Launch, RefusesWhatWouldNeedASearchAndReportsAMissingProgram) {
  EXPECT_FALSE(plat::LaunchProgram(u"Tixel Utility.exe", u"\"Tixel Utility.exe\""));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_PARAMETER);
  txl_test::TempFolder dir;
  EXPECT_FALSE(plat::LaunchProgram(dir.Wide("absent.exe"), u"absent.exe"));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
}

#if !defined(_WIN32)
// The notebook's own control manager and debugger output.

class ServiceManager : public ::testing::Test {
 protected:
  std::unique_ptr<plat::ServiceHandle> Create(const std::string& program, DWORD access) {
    plat::ServiceIdentity id;
    id.name = u"Probe";
    id.display_name = u"Probe Service";
    id.binary_path = plat::Utf8ToUtf16("\"" + program + "\"");
    return manager_->Create(id, access);
  }
  txl_test::TempFolder dir_;
  txl_test::ScopedEnv machine_{"TXL_MACHINE_DIR", dir_.path().string().c_str()};
  std::unique_ptr<plat::ServiceManagerHandle> manager_ =
      plat::OpenServiceManager(plat::SC_MANAGER_CONNECT | plat::SC_MANAGER_CREATE_SERVICE);
};

TEST_F(ServiceManager, RefusesAsWindowsDoes) {
  ASSERT_TRUE(manager_);
  auto service = Create("/bin/true", plat::SERVICE_QUERY_STATUS);
  ASSERT_TRUE(service);
  EXPECT_FALSE(Create("/bin/true", plat::SERVICE_QUERY_STATUS));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_SERVICE_EXISTS);
  EXPECT_FALSE(manager_->Open(u"Missing", plat::SERVICE_QUERY_STATUS));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_SERVICE_DOES_NOT_EXIST);

  plat::ServiceStatusRecord status;
  ASSERT_TRUE(service->QueryStatus(&status));
  EXPECT_EQ(status.dwCurrentState, plat::SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, plat::ERROR_SERVICE_NEVER_STARTED);
  // The handle was opened for querying only.
  EXPECT_FALSE(service->Start());
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);

  // Names compare without case.
  auto all = manager_->Open(u"PROBE", plat::SERVICE_QUERY_STATUS | plat::SERVICE_STOP | plat::DELETE);
  ASSERT_TRUE(all);
  EXPECT_FALSE(all->Control(plat::SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_TRUE(all->Delete());
  EXPECT_FALSE(manager_->Open(u"Probe", plat::SERVICE_QUERY_STATUS));
}

TEST_F(ServiceManager, AServiceThatDiesWithoutReportingHasStopped) {
  auto service = Create("/bin/true", plat::SERVICE_QUERY_STATUS | plat::SERVICE_START);
  ASSERT_TRUE(service);
  ASSERT_TRUE(service->Start());
  plat::ServiceStatusRecord status;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(service->QueryStatus(&status));
    if (status.dwCurrentState == plat::SERVICE_STOPPED) break;
    plat::SleepMs(500);
  }
  EXPECT_EQ(status.dwCurrentState, plat::SERVICE_STOPPED);
  EXPECT_EQ(status.dwWin32ExitCode, plat::ERROR_PROCESS_ABORTED);

  auto missing = manager_->Open(u"Probe", plat::SERVICE_START | plat::DELETE);
  ASSERT_TRUE(missing->Delete());
  auto broken = Create((dir_.path() / "no-such-program").string(), plat::SERVICE_START);
  ASSERT_TRUE(broken);
  EXPECT_FALSE(broken->Start());
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
}

TEST_F(ServiceManager, DispatcherConnectsOnlyInAProcessTheManagerStarted) {
  EXPECT_FALSE(plat::RunServiceDispatcher(u"Probe", [](DWORD, char16_t**) {}));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  EXPECT_EQ(plat::RegisterServiceControlHandler(u"Probe", [](DWORD) {}), 0u);
}

TEST(Launch, DebuggerOutputIsOneLinePerCallWithTheProcessId) {
  txl_test::TempFolder dir;
  txl_test::ScopedEnv machine("TXL_MACHINE_DIR", dir.path().string().c_str());
  plat::SetLastError(1234);
  plat::OutputDebugText(u"first");
  plat::OutputDebugText(u"second \u00e9");
  EXPECT_EQ(plat::GetLastError(), 1234u);
  const std::string pid = std::to_string(plat::CurrentProcessId());
  std::ifstream in(dir.path() / "debug-output.log", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "[" + pid + "] first\n[" + pid + "] second \xc3\xa9\n");
}

#endif

}  // namespace
