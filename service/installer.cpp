#include "service/installer.h"

#include <memory>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "service/output.h"
#include "service/service_base.h"

namespace txlguard {

namespace {

constexpr std::size_t kMaxPath = 260;
constexpr plat::DWORD kStopPollMs = 1000;

unsigned long LastError() { return static_cast<unsigned long>(plat::GetLastError()); }

bool IsOption(const std::u16string& arg, const char* name) {
  return plat::EqualsIgnoreCaseAscii(plat::Utf16ToUtf8(arg.substr(1)), name);
}

}  // namespace

void PrintUsage() {
  ConsolePrint("Parameters:\n");
  ConsolePrint(" -install  to install the service.\n");
  ConsolePrint(" -remove   to remove the service.\n");
  ConsolePrint(" -console  to run in console mode.\n");
}

void InstallService() {
  const std::u16string path = plat::HostExecutablePath();
  if (path.empty() || path.size() >= kMaxPath) {
    // A path cut at the buffer's end would install a service that starts some other file.
    if (!path.empty()) plat::SetLastError(plat::ERROR_INSUFFICIENT_BUFFER);
    ConsolePrint("GetModuleFileName failed w/err 0x%08lx\n", LastError());
    return;
  }
  const auto manager = plat::OpenServiceManager(plat::SC_MANAGER_CONNECT | plat::SC_MANAGER_CREATE_SERVICE);
  if (!manager) {
    ConsolePrint("OpenSCManager failed w/err 0x%08lx\n", LastError());
    return;
  }
  plat::ServiceIdentity identity;
  identity.name = kServiceName;
  identity.display_name = kDisplayName;
  identity.service_type = plat::SERVICE_WIN32_OWN_PROCESS;
  identity.start_type = plat::SERVICE_DEMAND_START;
  identity.error_control = plat::SERVICE_ERROR_NORMAL;
  // Quoted: an unquoted path with a blank in it would have the manager try each prefix of it as
  // a program of its own ("C:\Program.exe" for a folder under "C:\Program Files").
  identity.binary_path = u"\"" + path + u"\"";
  const auto service = manager->Create(identity, plat::SERVICE_QUERY_STATUS);
  if (!service) {
    ConsolePrint("CreateService failed w/err 0x%08lx\n", LastError());
    return;
  }
  ConsolePrint("%ls is installed.\n", kServiceName);
}

void RemoveService() {
  const auto manager = plat::OpenServiceManager(plat::SC_MANAGER_CONNECT);
  if (!manager) {
    ConsolePrint("OpenSCManager failed w/err 0x%08lx\n", LastError());
    return;
  }
  const auto service =
      manager->Open(kServiceName, plat::SERVICE_STOP | plat::SERVICE_QUERY_STATUS | plat::DELETE);
  if (!service) {
    ConsolePrint("OpenService failed w/err 0x%08lx\n", LastError());
    return;
  }
  plat::ServiceStatusRecord status;
  if (service->Control(plat::SERVICE_CONTROL_STOP, &status)) {
    ConsolePrint("Stopping %ls.", kServiceName);
    for (;;) {
      plat::SleepMs(kStopPollMs);
      if (!service->QueryStatus(&status) || status.dwCurrentState != plat::SERVICE_STOP_PENDING) break;
      ConsolePrint(".");
    }
    if (status.dwCurrentState == plat::SERVICE_STOPPED) {
      ConsolePrint("\n%ls is stopped.\n", kServiceName);
    } else {
      ConsolePrint("\n%ls failed to stop.\n", kServiceName);
    }
  }
  if (service->Delete()) {
    ConsolePrint("%ls is removed.\n", kServiceName);
  } else {
    ConsolePrint("DeleteService failed w/err 0x%08lx\n", LastError());
  }
}

namespace {

void RunAsService() {
  auto* service = new CSampleService(kServiceName, false);
  RunningService = service;
  if (!plat::RunServiceDispatcher(kServiceName, ServiceMain)) {
    ConsolePrint("Service failed to run w/err 0x%08lx\n", LastError());
  }
  RunningService = nullptr;
  delete service;
  PrintUsage();
}

}  // namespace

int RunTxlGuard(const std::vector<std::u16string>& args) {
  const bool has_option = args.size() > 1 && !args[1].empty() && (args[1][0] == u'-' || args[1][0] == u'/');
  if (!has_option) {
    RunAsService();
  } else if (IsOption(args[1], "install")) {
    InstallService();
  } else if (IsOption(args[1], "remove")) {
    RemoveService();
  } else if (IsOption(args[1], "console")) {
    CSampleService console_service(kServiceName, true);
  } else {
    PrintUsage();
  }
  return 0;
}

}  // namespace txlguard
