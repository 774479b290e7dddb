// txlsim service: the simulated notebook's service control manager from the command line.
#include <string>
#include <vector>

#include <cstdio>
#include <memory>

#include "platform/process.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

const char kServiceHelp[] =
    "  service start NAME       starts the service; returns once it reports running or stopped\n"
    "                           (at most 120 s, scaled by TXL_TIME_SCALE)\n"
    "  service stop NAME        sends the stop control; returns once the service has stopped\n"
    "  service shutdown NAME    sends the shutdown control, as the system does when it goes down\n"
    "  service query NAME       the service's status, as Windows' sc query prints it\n"
    "  service history NAME     every status report of the last run: STATE CHECKPOINT WAIT_HINT EXIT_CODE\n";

namespace {

constexpr plat::DWORD kSettleMs = 120000;
constexpr plat::DWORD kPollMs = 100;

int Failed(const char* what) {
  std::fprintf(stderr, "txlsim: %s failed w/err %u\n", what, static_cast<unsigned>(plat::GetLastError()));
  return kFailedExit;
}

void PrintStatus(const std::string& name, const plat::ServiceStatusRecord& s) {
  std::printf("SERVICE_NAME: %s\n", name.c_str());
  std::printf("STATE : %u %s\n", s.dwCurrentState, plat::ServiceStateName(s.dwCurrentState));
  std::printf("WIN32_EXIT_CODE : %u\n", s.dwWin32ExitCode);
  std::printf("CHECKPOINT : 0x%x\n", s.dwCheckPoint);
  std::printf("WAIT_HINT : 0x%x\n", s.dwWaitHint);
}

bool Settled(plat::DWORD state, bool starting) {
  return state == plat::SERVICE_STOPPED || (starting && state == plat::SERVICE_RUNNING);
}

// Polls the status until it settles or the bound has passed; the last status seen in *status.
bool WaitSettled(plat::ServiceHandle& service, bool starting, plat::ServiceStatusRecord* status) {
  for (plat::DWORD waited = 0;; waited += kPollMs) {
    if (!service.QueryStatus(status)) return false;
    if (Settled(status->dwCurrentState, starting) || waited >= kSettleMs) return true;
    plat::SleepMs(kPollMs);
  }
}

}  // namespace

int ServiceCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "txlsim: service takes a verb and a service name (txlsim --help)\n");
    return kUsageExit;
  }
  const std::string& verb = args[0];
  const std::string& name = args[1];
  plat::DWORD access = plat::SERVICE_QUERY_STATUS;
  if (verb == "start") {
    access |= plat::SERVICE_START;
  } else if (verb == "stop" || verb == "shutdown") {
    access |= plat::SERVICE_STOP;
  } else if (verb != "query" && verb != "history") {
    std::fprintf(stderr, "txlsim: unknown service verb '%s' (txlsim --help)\n", verb.c_str());
    return kUsageExit;
  }
  if (verb == "history") {
    std::vector<plat::ServiceStatusRecord> history;
    if (!plat::ServiceStatusHistory(plat::Utf8ToUtf16(name), &history)) return Failed("reading the history");
    for (const auto& s : history) {
      std::printf("%s %u %u %u\n", plat::ServiceStateName(s.dwCurrentState), s.dwCheckPoint, s.dwWaitHint,
                  s.dwWin32ExitCode);
    }
    return 0;
  }
  const auto manager = plat::OpenServiceManager(plat::SC_MANAGER_CONNECT);
  if (!manager) return Failed("OpenSCManager");
  const auto service = manager->Open(plat::Utf8ToUtf16(name), access);
  if (!service) return Failed("OpenService");
  plat::ServiceStatusRecord status;
  if (verb == "query") {
    if (!service->QueryStatus(&status)) return Failed("QueryServiceStatus");
    PrintStatus(name, status);
    return 0;
  }
  if (verb == "start") {
    if (!service->Start()) return Failed("StartService");
  } else {
    const plat::DWORD control = verb == "stop" ? plat::SERVICE_CONTROL_STOP : plat::SERVICE_CONTROL_SHUTDOWN;
    if (!service->Control(control, &status)) return Failed("ControlService");
  }
  if (!WaitSettled(*service, verb == "start", &status)) return Failed("QueryServiceStatus");
  PrintStatus(name, status);
  // Done when it got where it was sent, without an error.
  const bool reached = verb == "start" ? status.dwCurrentState == plat::SERVICE_RUNNING
                                       : status.dwCurrentState == plat::SERVICE_STOPPED;
  return reached && status.dwWin32ExitCode == 0 ? 0 : kFailedExit;
}

}  // namespace txlsim
