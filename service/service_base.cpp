#include "service/service_base.h"

#include <string>

#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/output.h"
#include "service/startup_action.h"

namespace txlguard {

StatusReporter g_reportStatus = plat::ReportServiceStatus;
CServiceBase* RunningService = nullptr;
plat::DWORD CheckPointCounter = 1;

CServiceBase::CServiceBase(const char16_t* service_name) : m_name(service_name) {
  m_status.dwServiceType = plat::SERVICE_WIN32_OWN_PROCESS;
  m_status.dwCurrentState = plat::SERVICE_START_PENDING;
  m_status.dwControlsAccepted = kControlsAccepted;
  const plat::ULONG result = plat::RegisterEventProvider(kProviderId, &m_providerHandle);
  if (result != plat::ERROR_SUCCESS) {
    ConsolePrint("Provider not registered. EventRegister failed with %d\n", static_cast<int>(result));
    m_providerHandle = 0;
  }
}

CServiceBase::~CServiceBase() {
  if (m_providerHandle != 0) plat::UnregisterEventProvider(m_providerHandle);
  // Refused (and the key kept) while it has sub-keys: only what this service wrote goes.
  plat::DeleteRegistryKey(plat::RegistryHive::kLocalMachine, kVersionKey);
}

void CServiceBase::OnStart(plat::DWORD, char16_t**) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}
void CServiceBase::LogServiceMessage(const char16_t*, std::uint8_t) {}

void CServiceBase::ReportStatus() { g_reportStatus(m_statusHandle, m_status); }

void CServiceBase::SetStatus(plat::DWORD state, plat::DWORD exit_code) {
  m_status.dwCurrentState = state;
  m_status.dwWin32ExitCode = exit_code;
  m_status.dwWaitHint = 0;
  m_status.dwCheckPoint =
      (state == plat::SERVICE_RUNNING || state == plat::SERVICE_STOPPED) ? 0 : CheckPointCounter++;
  ReportStatus();
}

void CServiceBase::LogError(const char16_t* function, plat::DWORD code) {
  const std::string message =
      plat::Format("%ls failed w/err 0x%08lx", function ? function : u"", static_cast<unsigned long>(code));
  // The message buffer holds 260 characters with its terminator.
  std::u16string text = plat::Utf8ToUtf16(message);
  if (text.size() > 259) text.resize(259);
  LogServiceMessage(text.c_str(), kEventError);
}

void CServiceBase::Start(plat::DWORD argc, char16_t** argv) {
  try {
    WriteVersionValues();
    LogServiceMessage(u"Service trying to start.", kEventError);
    SetStatus(plat::SERVICE_START_PENDING, 0);
    OnStart(argc, argv);
    if (PerformCmdWithID() == 0) DebugPrint("Service start: PerformCmdWithID(DEF_ACTION_UPDATE) fail");
    SetStatus(plat::SERVICE_RUNNING, 0);
  } catch (const ServiceError& error) {
    LogError(u"Service Start", error.code);
    DebugPrint("Service start: Exception with code %d(0x%X)", static_cast<int>(error.code), error.code);
    SetStatus(plat::SERVICE_STOPPED, error.code);
  } catch (...) {
    LogServiceMessage(u"Service failed to start.", kEventError);
    DebugPrint("Service start: Exception with cTRACE_LEVEL_ERROR");
    SetStatus(plat::SERVICE_STOPPED, 0);
  }
}

void CServiceBase::RunControl(plat::DWORD pending, plat::DWORD done, plat::DWORD back,
                              void (CServiceBase::*operation)(), const char16_t* function,
                              const char16_t* failure) {
  try {
    SetStatus(pending, 0);
    (this->*operation)();
    SetStatus(done, 0);
  } catch (const ServiceError& error) {
    LogError(function, error.code);
    SetStatus(back, 0);
  } catch (...) {
    LogServiceMessage(failure, kEventError);
    SetStatus(back, 0);
  }
}

void CServiceBase::Stop() {
  RunControl(plat::SERVICE_STOP_PENDING, plat::SERVICE_STOPPED, m_status.dwCurrentState, &CServiceBase::OnStop,
             u"Service Stop", u"Service failed to stop.");
}

void CServiceBase::Pause() {
  RunControl(plat::SERVICE_PAUSE_PENDING, plat::SERVICE_PAUSED, plat::SERVICE_RUNNING, &CServiceBase::OnPause,
             u"Service Pause", u"Service failed to pause.");
}

void CServiceBase::Continue() {
  RunControl(plat::SERVICE_CONTINUE_PENDING, plat::SERVICE_RUNNING, plat::SERVICE_PAUSED, &CServiceBase::OnContinue,
             u"Service Continue", u"Service failed to resume.");
}

void CServiceBase::Shutdown() {
  try {
    OnShutdown();
    SetStatus(plat::SERVICE_STOPPED, 0);
  } catch (const ServiceError& error) {
    LogError(u"Service Shutdown", error.code);
  } catch (...) {
    LogServiceMessage(u"Service failed to shut down.", kEventError);
  }
}

CSampleService::CSampleService(const char16_t* service_name, bool console)
    : CServiceBase(service_name), m_console(console) {
  (void)m_reserved;
}

void CSampleService::OnStart(plat::DWORD, char16_t**) {
  LogServiceMessage(u"ServiceShell in OnStart", kEventInformation);
}

void CSampleService::OnStop() { LogServiceMessage(u"ServiceShell in OnStop", kEventInformation); }

void CSampleService::LogServiceMessage(const char16_t* message, std::uint8_t event_type) {
  if (m_console) ConsolePrint("%d: %ls\n", static_cast<int>(event_type), message ? message : u"");
}

void ServiceMain(plat::DWORD argc, char16_t** argv) {
  CServiceBase* service = RunningService;
  if (!service) return;
  const plat::ServiceStatusHandleValue handle = plat::RegisterServiceControlHandler(service->Name(), ControlHandler);
  // Without a handler nothing may be reported: the service main ends here, its last error set.
  if (handle == 0) return;
  service->SetStatusHandle(handle);
  service->Start(argc, argv);
}

void ControlHandler(plat::DWORD control) {
  CServiceBase* service = RunningService;
  if (!service) return;
  switch (control) {
    case plat::SERVICE_CONTROL_STOP: service->Stop(); break;
    case plat::SERVICE_CONTROL_PAUSE: service->Pause(); break;
    case plat::SERVICE_CONTROL_CONTINUE: service->Continue(); break;
    case plat::SERVICE_CONTROL_SHUTDOWN: service->Shutdown(); break;
    default: break;
  }
}

}  // namespace txlguard
