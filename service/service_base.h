// The service framework: the service object the control manager drives, its status reporting,
// and the service main and control handler the dispatcher calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/service.h"
#include "platform/types.h"

namespace txlguard {

inline constexpr char16_t kServiceName[] = u"TXLGuard";
inline constexpr char16_t kDisplayName[] = u"TXL Service";
// Stop and shutdown; pause and continue are not accepted.
inline constexpr plat::DWORD kControlsAccepted = plat::SERVICE_ACCEPT_STOP | plat::SERVICE_ACCEPT_SHUTDOWN;

// Event types of LogServiceMessage.
inline constexpr std::uint8_t kEventError = 2;
inline constexpr std::uint8_t kEventInformation = 4;

// What an operation of the service raises when it fails with a Windows error code.
struct ServiceError {
  plat::DWORD code;
};

// Where status records go: the control manager, or a recorder in tests.
using StatusReporter = bool (*)(plat::ServiceStatusHandleValue handle, const plat::ServiceStatusRecord& status);
extern StatusReporter g_reportStatus;

class CServiceBase {
 public:
  // Registers the event provider; a failure is printed and otherwise ignored.
  explicit CServiceBase(const char16_t* service_name);
  // Unregisters the provider and deletes "SOFTWARE\TXL" when it has no sub-keys.
  virtual ~CServiceBase();
  CServiceBase(const CServiceBase&) = delete;
  CServiceBase& operator=(const CServiceBase&) = delete;

  virtual void OnStart(plat::DWORD argc, char16_t** argv);
  virtual void OnStop();
  virtual void OnPause();
  virtual void OnContinue();
  virtual void OnShutdown();
  virtual void LogServiceMessage(const char16_t* message, std::uint8_t event_type);

  // The control manager's requests; each reports the states it goes through.
  void Start(plat::DWORD argc, char16_t** argv);
  void Stop();
  void Pause();
  void Continue();
  void Shutdown();

  // Stores state and exit code; the checkpoint is 0 for running and stopped and the next counter
  // value for every pending state; the wait hint is 0.
  void SetStatus(plat::DWORD state, plat::DWORD exit_code);
  // "<function> failed w/err 0x%08lx" as an error message.
  void LogError(const char16_t* function, plat::DWORD code);

  const char16_t* Name() const { return m_name; }
  const plat::ServiceStatusRecord& Status() const { return m_status; }
  void SetStatusHandle(plat::ServiceStatusHandleValue handle) { m_statusHandle = handle; }

 protected:
  const char16_t* m_name;  // not owned
  plat::ServiceStatusRecord m_status;
  plat::ServiceStatusHandleValue m_statusHandle = 0;
  std::uint64_t m_providerHandle = 0;

 private:
  void ReportStatus();
  // Stop, pause and continue alike: through `pending` to `done`; when the operation fails, its
  // failure is logged (`function` for a ServiceError, `failure` for anything else) and the
  // service goes back to `back`.
  void RunControl(plat::DWORD pending, plat::DWORD done, plat::DWORD back, void (CServiceBase::*operation)(),
                  const char16_t* function, const char16_t* failure);
};

// The service of this program.
class CSampleService : public CServiceBase {
 public:
  CSampleService(const char16_t* service_name, bool console);
  void OnStart(plat::DWORD argc, char16_t** argv) override;
  void OnStop() override;
  void LogServiceMessage(const char16_t* message, std::uint8_t event_type) override;

 private:
  void* m_reserved = nullptr;
  bool m_console;
};

// The one service object of the process, set before the dispatcher starts.
extern CServiceBase* RunningService;
// The checkpoint of the next pending report: starts at 1, never reset.
extern plat::DWORD CheckPointCounter;

void ServiceMain(plat::DWORD argc, char16_t** argv);
void ControlHandler(plat::DWORD control);

// The event-tracing provider the service object registers.
inline constexpr plat::GUID kProviderId = {
    0xBCBBEF7B, 0x37C2, 0x429C, {0x9D, 0xB8, 0xAC, 0x46, 0xD3, 0x3F, 0x24, 0xB4}};

}  // namespace txlguard
