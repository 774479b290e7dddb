// Services: the control manager as the programs that install, start and control a service see it,
// the dispatcher side a service process talks to it through, and event-tracing provider
// registration.
//
// Windows: the system's service control manager.
// POSIX: a small control manager of the simulated notebook. Its database is
// $TXL_MACHINE_DIR/services/<name>/: "config" (the service's identity), "status" (the last status
// the service reported), "history" (every status report of the current or last run, one per line:
// state, exit code, checkpoint, wait hint), "pid", "output.log" (the service's standard output and
// error) and a control FIFO. Starting a service launches its binary, detached, with the variable
// TXL_SERVICE_CONTROL naming the service; only a process started that way can connect its
// dispatcher (as on Windows, any other start fails with 1063). Changes of the database are made
// under "services/services.lock".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/types.h"

namespace plat {

// Service states, controls, accepted-control bits, types, rights and errors, with Windows' numbers.
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;

inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

inline constexpr DWORD SERVICE_ACCEPT_STOP = 1;
inline constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 2;
inline constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 4;

inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;

inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr DWORD DELETE = 0x00010000;

inline constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
inline constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
inline constexpr DWORD ERROR_SERVICE_NEVER_STARTED = 1077;
inline constexpr DWORD ERROR_DUPLICATE_SERVICE_NAME = 1078;

// The status record, member for member Windows' SERVICE_STATUS.
struct ServiceStatusRecord {
  DWORD dwServiceType = 0;
  DWORD dwCurrentState = 0;
  DWORD dwControlsAccepted = 0;
  DWORD dwWin32ExitCode = 0;
  DWORD dwServiceSpecificExitCode = 0;
  DWORD dwCheckPoint = 0;
  DWORD dwWaitHint = 0;
};

// "STOPPED", "START_PENDING", ... as Windows' tools print them; "UNKNOWN" for anything else.
const char* ServiceStateName(DWORD state);

// What a service is created with.
struct ServiceIdentity {
  std::u16string name;
  std::u16string display_name;
  DWORD service_type = SERVICE_WIN32_OWN_PROCESS;
  DWORD start_type = SERVICE_DEMAND_START;
  DWORD error_control = SERVICE_ERROR_NORMAL;
  std::u16string binary_path;  // the command line the manager starts the service with
};

// An open service. Every failure returns false with the thread's last error set.
class ServiceHandle {
 public:
  virtual ~ServiceHandle() = default;
  virtual bool QueryStatus(ServiceStatusRecord* status) = 0;
  // Sends a control; *status receives the status after the service handled it. Refused with
  // ERROR_SERVICE_NOT_ACTIVE when the service is not running, ERROR_INVALID_SERVICE_CONTROL when
  // it does not accept the control.
  virtual bool Control(DWORD control, ServiceStatusRecord* status) = 0;
  virtual bool Start() = 0;
  // Marks the service for deletion; it disappears once it has stopped.
  virtual bool Delete() = 0;
};

// A connection to the control manager. (The members are not called CreateService/OpenService:
// those are macros of the Windows SDK.)
class ServiceManagerHandle {
 public:
  virtual ~ServiceManagerHandle() = default;
  // Null on failure (ERROR_SERVICE_EXISTS, ERROR_DUPLICATE_SERVICE_NAME, ...).
  virtual std::unique_ptr<ServiceHandle> Create(const ServiceIdentity& identity, DWORD desired_access) = 0;
  // Null on failure (ERROR_SERVICE_DOES_NOT_EXIST, ...).
  virtual std::unique_ptr<ServiceHandle> Open(const std::u16string& name, DWORD desired_access) = 0;
};

// Opens the control manager of the local machine; null on failure.
std::unique_ptr<ServiceManagerHandle> OpenServiceManager(DWORD desired_access);

// The service process's side.
using ServiceMainFunction = void (*)(DWORD argc, char16_t** argv);
using ServiceControlHandler = void (*)(DWORD control);
// Opaque; 0 is no handle.
using ServiceStatusHandleValue = std::uintptr_t;

// Connects the process to the control manager and runs `service_main` for `service_name` on a
// thread of its own; controls are handed to the registered handler on the calling thread. Returns
// true once the service has reported SERVICE_STOPPED; false with the last error set when the
// process was not started by the control manager (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT).
bool RunServiceDispatcher(const std::u16string& service_name, ServiceMainFunction service_main);
// 0 with the last error set on failure.
ServiceStatusHandleValue RegisterServiceControlHandler(const std::u16string& service_name,
                                                       ServiceControlHandler handler);
bool ReportServiceStatus(ServiceStatusHandleValue handle, const ServiceStatusRecord& status);

// Every status report of the service's current or last run, oldest first. Only the simulated
// notebook's control manager keeps them: on Windows false with ERROR_NOT_SUPPORTED.
bool ServiceStatusHistory(const std::u16string& service_name, std::vector<ServiceStatusRecord>* out);

// Event-tracing provider registration: a Windows error code (0 on success); *handle is 0 on
// failure. The simulated notebook accepts every registration and traces nothing.
ULONG RegisterEventProvider(const GUID& provider_id, std::uint64_t* handle);
ULONG UnregisterEventProvider(std::uint64_t handle);

}  // namespace plat
