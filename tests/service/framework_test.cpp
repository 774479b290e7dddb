// The service object's status reporting, control routing and failure paths, with the reports
// recorded instead of sent to a control manager.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "service/service_base.h"
#include "service/startup_action.h"
#include "test_support.h"

namespace {

using namespace txlguard;
using plat::DWORD;

struct Report {
  DWORD state;
  DWORD checkpoint;
  DWORD exit_code;
  bool operator==(const Report&) const = default;
};
std::vector<Report> g_reports;

bool Record(plat::ServiceStatusHandleValue, const plat::ServiceStatusRecord& s) {
  EXPECT_EQ(s.dwWaitHint, 0u);
  EXPECT_EQ(s.dwControlsAccepted, kControlsAccepted);
  g_reports.push_back({s.dwCurrentState, s.dwCheckPoint, s.dwWin32ExitCode});
  return true;
}

enum class Failure { kNone, kCode, kOther };

// A service whose handlers fail on request and whose messages are kept.
class ProbeService : public CServiceBase {
 public:
  ProbeService() : CServiceBase(kServiceName) {}
  Failure fail_start = Failure::kNone;
  Failure fail_stop = Failure::kNone;
  std::vector<std::string> messages;

  void OnStart(DWORD, char16_t**) override { Raise(fail_start); }
  void OnStop() override { Raise(fail_stop); }
  void LogServiceMessage(const char16_t* message, std::uint8_t type) override {
    messages.push_back(std::to_string(type) + " " + plat::Utf16ToUtf8(message));
  }

 private:
  static void Raise(Failure f) {
    if (f == Failure::kCode) throw ServiceError{5};
    if (f == Failure::kOther) throw std::runtime_error("other");
  }
};

class ServiceFramework : public ::testing::Test {
 protected:
  void SetUp() override {
    g_reports.clear();
    g_reportStatus = Record;
    CheckPointCounter = 1;
  }
  void TearDown() override {
    g_reportStatus = plat::ReportServiceStatus;
    RunningService = nullptr;
  }
  std::string DebugOutput() const { return txltest::ReadFile(dir_.path() / "debug-output.log"); }
  bool KeyExists() {
    std::unique_ptr<plat::RegistryKey> key;
    return plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, kVersionKey, &key) == 0;
  }
  txltest::TempDir dir_;
  txltest::MachineDirScope machine_{dir_.path()};
};

TEST_F(ServiceFramework, StartAndStopReportPendingStatesWithARunningCheckpoint) {
  ProbeService service;
  service.Start(0, nullptr);
  service.Stop();
  const std::vector<Report> expected = {{plat::SERVICE_START_PENDING, 1, 0},
                                        {plat::SERVICE_RUNNING, 0, 0},
                                        {plat::SERVICE_STOP_PENDING, 2, 0},
                                        {plat::SERVICE_STOPPED, 0, 0}};
  EXPECT_EQ(g_reports, expected);
  EXPECT_EQ(CheckPointCounter, 3u);
  // The start-up action ran (no utility beside the test program) and the start went on.
  const auto lines = txltest::Lines(DebugOutput());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[lines.size() - 2].find("PerformCmdWithID: LaunchFWApplication get non-zero exit code"), std::string::npos);
  EXPECT_NE(lines.back().find("Service start: PerformCmdWithID(DEF_ACTION_UPDATE) fail"), std::string::npos);
  EXPECT_EQ(service.messages.front(), "2 Service trying to start.");
}

TEST_F(ServiceFramework, FailedStartStopsWithTheErrorCodeOrZero) {
  struct Case {
    Failure failure;
    DWORD exit_code;
    const char* message;
    const char* debug_line;
  } cases[] = {
      {Failure::kCode, 5, "2 Service Start failed w/err 0x00000005", "Service start: Exception with code 5(0x5)"},
      {Failure::kOther, 0, "2 Service failed to start.", "Service start: Exception with cTRACE_LEVEL_ERROR"},
  };
  for (const auto& c : cases) {
    g_reports.clear();
    ProbeService service;
    service.fail_start = c.failure;
    service.Start(0, nullptr);
    ASSERT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(g_reports[0].state, plat::SERVICE_START_PENDING);
    EXPECT_EQ(g_reports[1], (Report{plat::SERVICE_STOPPED, 0, c.exit_code}));
    EXPECT_EQ(service.messages.back(), c.message);
    EXPECT_NE(txltest::Lines(DebugOutput()).back().find(c.debug_line), std::string::npos);
  }
}

TEST_F(ServiceFramework, FailedStopGoesBackToTheStateItLeft) {
  for (Failure f : {Failure::kCode, Failure::kOther}) {
    ProbeService service;
    service.Start(0, nullptr);
    g_reports.clear();
    service.fail_stop = f;
    service.Stop();
    ASSERT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(g_reports[0].state, plat::SERVICE_STOP_PENDING);
    EXPECT_EQ(g_reports[1], (Report{plat::SERVICE_RUNNING, 0, 0}));
    EXPECT_EQ(service.messages.back(),
              f == Failure::kCode ? "2 Service Stop failed w/err 0x00000005" : "2 Service failed to stop.");
  }
}

TEST_F(ServiceFramework, ControlHandlerRoutesEachCodeAndIgnoresTheRest) {
  ProbeService service;
  RunningService = &service;
  struct Case {
    DWORD control;
    std::vector<DWORD> states;
  } cases[] = {
      {plat::SERVICE_CONTROL_INTERROGATE, {}},
      {200, {}},
      {plat::SERVICE_CONTROL_PAUSE, {plat::SERVICE_PAUSE_PENDING, plat::SERVICE_PAUSED}},
      {plat::SERVICE_CONTROL_CONTINUE, {plat::SERVICE_CONTINUE_PENDING, plat::SERVICE_RUNNING}},
      {plat::SERVICE_CONTROL_SHUTDOWN, {plat::SERVICE_STOPPED}},
      {plat::SERVICE_CONTROL_STOP, {plat::SERVICE_STOP_PENDING, plat::SERVICE_STOPPED}},
  };
  for (const auto& c : cases) {
    g_reports.clear();
    ControlHandler(c.control);
    std::vector<DWORD> states;
    for (const auto& r : g_reports) states.push_back(r.state);
    EXPECT_EQ(states, c.states) << "control " << c.control;
  }
}

TEST_F(ServiceFramework, DestructionDeletesTheVersionKeyOnlyWithoutSubkeys) {
  WriteVersionValues();
  std::unique_ptr<plat::RegistryKey> key;
  ASSERT_EQ(plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, kVersionKey, &key), 0);
  std::u16string image;
  ASSERT_EQ(key->QueryString(u"ImagePath", &image), 0);
  EXPECT_EQ(image, u"C:\\Windows\\SysWOW64\\TXLGuard.exe");
  std::u16string version;
  ASSERT_EQ(key->QueryString(u"TXLGuardVersion", &version), 0);
  EXPECT_EQ(version, u"1.0.2.6");
  ASSERT_EQ(key->QueryString(u"TixelUtilityVersion", &version), 0);
  EXPECT_EQ(version, u"2.0.20.216");

  std::unique_ptr<plat::RegistryKey> sub;
  ASSERT_EQ(plat::CreateRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\TXL\\Child", &sub), 0);
  { CSampleService service(kServiceName, false); }
  EXPECT_TRUE(KeyExists());
  ASSERT_EQ(plat::DeleteRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\TXL\\Child"), 0);
  { CSampleService service(kServiceName, false); }
  EXPECT_FALSE(KeyExists());
}

}  // namespace
