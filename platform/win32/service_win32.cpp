// The system's service control manager and event tracing.
#include <atomic>
#include <mutex>

#include "platform/service.h"
#include "platform/text.h"
#include "win32/os.h"

#include <evntprov.h>

namespace plat {

namespace {

// Our record and Windows' SERVICE_STATUS have the same members; one copy serves both ways.
template <class From, class To>
void CopyStatus(const From& in, To* out) {
  out->dwServiceType = in.dwServiceType;
  out->dwCurrentState = in.dwCurrentState;
  out->dwControlsAccepted = in.dwControlsAccepted;
  out->dwWin32ExitCode = in.dwWin32ExitCode;
  out->dwServiceSpecificExitCode = in.dwServiceSpecificExitCode;
  out->dwCheckPoint = in.dwCheckPoint;
  out->dwWaitHint = in.dwWaitHint;
}

class Win32Service final : public ServiceHandle {
 public:
  explicit Win32Service(SC_HANDLE h) : handle_(h) {}
  bool QueryStatus(ServiceStatusRecord* status) override {
    ::SERVICE_STATUS s{};
    if (!::QueryServiceStatus(handle_.get(), &s)) return false;
    CopyStatus(s, status);
    return true;
  }
  bool Control(DWORD control, ServiceStatusRecord* status) override {
    ::SERVICE_STATUS s{};
    const bool ok = ::ControlService(handle_.get(), control, &s) != 0;
    CopyStatus(s, status);
    return ok;
  }
  bool Start() override { return ::StartServiceW(handle_.get(), 0, nullptr) != 0; }
  bool Delete() override { return ::DeleteService(handle_.get()) != 0; }

 private:
  win32::UniqueScHandle handle_;
};

class Win32ServiceManager final : public ServiceManagerHandle {
 public:
  explicit Win32ServiceManager(SC_HANDLE h) : handle_(h) {}
  std::unique_ptr<ServiceHandle> Create(const ServiceIdentity& identity, DWORD desired_access) override {
    // An empty dependency list is a list with no entries: two terminating NULs.
    static const wchar_t kNoDependencies[2] = {L'\0', L'\0'};
    SC_HANDLE h = ::CreateServiceW(handle_.get(), win32::W(identity.name.c_str()),
                                   win32::W(identity.display_name.c_str()), desired_access, identity.service_type,
                                   identity.start_type, identity.error_control,
                                   win32::W(identity.binary_path.c_str()), nullptr, nullptr, kNoDependencies,
                                   nullptr, nullptr);
    if (!h) return nullptr;
    return std::make_unique<Win32Service>(h);
  }
  std::unique_ptr<ServiceHandle> Open(const std::u16string& name, DWORD desired_access) override {
    SC_HANDLE h = ::OpenServiceW(handle_.get(), win32::W(name.c_str()), desired_access);
    if (!h) return nullptr;
    return std::make_unique<Win32Service>(h);
  }

 private:
  win32::UniqueScHandle handle_;
};

// The system calls these with its own calling convention; they hand over to ours.
std::atomic<ServiceMainFunction> g_service_main{nullptr};
std::atomic<ServiceControlHandler> g_control_handler{nullptr};

void WINAPI ServiceMainTrampoline(::DWORD argc, LPWSTR* argv) {
  if (const ServiceMainFunction main = g_service_main.load()) main(argc, reinterpret_cast<char16_t**>(argv));
}

void WINAPI ControlHandlerTrampoline(::DWORD control) {
  if (const ServiceControlHandler handler = g_control_handler.load()) handler(control);
}

}  // namespace

std::unique_ptr<ServiceManagerHandle> OpenServiceManager(DWORD desired_access) {
  SC_HANDLE h = ::OpenSCManagerW(nullptr, nullptr, desired_access);
  if (!h) return nullptr;
  return std::make_unique<Win32ServiceManager>(h);
}

bool RunServiceDispatcher(const std::u16string& service_name, ServiceMainFunction service_main) {
  g_service_main.store(service_main);
  std::u16string name = service_name;
  SERVICE_TABLE_ENTRYW table[] = {{win32::W(name.data()), ServiceMainTrampoline}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) != 0;
}

ServiceStatusHandleValue RegisterServiceControlHandler(const std::u16string& service_name,
                                                       ServiceControlHandler handler) {
  g_control_handler.store(handler);
  const SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerW(win32::W(service_name.c_str()), ControlHandlerTrampoline);
  return reinterpret_cast<ServiceStatusHandleValue>(h);
}

bool ReportServiceStatus(ServiceStatusHandleValue handle, const ServiceStatusRecord& status) {
  ::SERVICE_STATUS s{};
  CopyStatus(status, &s);
  return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &s) != 0;
}

bool ServiceStatusHistory(const std::u16string& /*service_name*/, std::vector<ServiceStatusRecord>* /*out*/) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

ULONG RegisterEventProvider(const GUID& provider_id, std::uint64_t* handle) {
  if (!handle) return ERROR_INVALID_PARAMETER;
  REGHANDLE h = 0;
  const ::ULONG result = ::EventRegister(&win32::Os(provider_id), nullptr, nullptr, &h);
  *handle = result == ERROR_SUCCESS ? static_cast<std::uint64_t>(h) : 0;
  return result;
}

ULONG UnregisterEventProvider(std::uint64_t handle) { return ::EventUnregister(static_cast<REGHANDLE>(handle)); }

}  // namespace plat
