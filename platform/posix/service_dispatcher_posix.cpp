// The dispatcher a service process runs against the notebook's service control manager: it
// takes the controls from the service's FIFO, calls the handler, and acknowledges each; status
// reports go to the database (posix/service_database.h).
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/process.h"
#include "platform/service.h"
#include "platform/text.h"
#include "posix/service_database.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

namespace fs = std::filesystem;
using posix::ControlFifo;
using posix::kControlVariable;
using posix::kWakeStopped;
using posix::LockDatabase;
using posix::ReadConfig;
using posix::ReplyFifo;
using posix::ServiceConfig;
using posix::ServiceFolder;
using posix::StatusLine;
using posix::WriteText;

constexpr DWORD ERROR_SERVICE_NOT_IN_EXE = 1083;

bool Fail(DWORD code) { return posix::FailWith(code); }

// The dispatcher of this process, when it runs one.
struct Dispatcher {
  std::mutex mutex;
  std::u16string name;
  fs::path folder;
  int control_fd = -1;  // borrowed from RunServiceDispatcher, which closes it
  std::atomic<ServiceControlHandler> handler{nullptr};
};
Dispatcher& TheDispatcher() {
  static Dispatcher d;
  return d;
}
// The one status handle a process of one service hands out.
ServiceStatusHandleValue StatusHandleValue() { return reinterpret_cast<ServiceStatusHandleValue>(&TheDispatcher()); }

}  // namespace

bool RunServiceDispatcher(const std::u16string& service_name, ServiceMainFunction service_main) {
  const auto started_as = GetEnv(kControlVariable);
  if (!started_as || !service_main || !EqualsIgnoreCaseAscii(*started_as, Utf16ToUtf8(service_name))) {
    return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  }
  // Programs the service starts are not services of the manager.
  SetEnv(kControlVariable, nullptr);
  Dispatcher& d = TheDispatcher();
  const fs::path folder = ServiceFolder(service_name);
  // Held for reading and writing for the life of the dispatcher: a controller's open never
  // blocks, and the FIFO never reports end of file.
  const posix::UniqueFd control = posix::OpenFifo(ControlFifo(folder), O_RDWR);
  if (!control) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  {
    std::lock_guard<std::mutex> guard(d.mutex);
    d.name = service_name;
    d.folder = folder;
    d.control_fd = control.get();
  }
  std::u16string argument = service_name;
  char16_t* argv[2] = {argument.data(), nullptr};
  std::thread main_thread([&] { service_main(1, argv); });
  for (;;) {
    std::uint32_t message[2] = {0, 0};
    const ssize_t n = ::read(control.get(), message, sizeof message);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof message)) break;
    if (message[0] == kWakeStopped) break;
    if (const ServiceControlHandler handler = d.handler.load()) handler(message[0]);
    if (const posix::UniqueFd reply(::open(ReplyFifo(folder).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)); reply) {
      [[maybe_unused]] const ssize_t w = ::write(reply.get(), &message[1], sizeof message[1]);
    }
  }
  main_thread.join();
  {
    std::lock_guard<std::mutex> guard(d.mutex);
    d.control_fd = -1;
  }
  return true;
}

ServiceStatusHandleValue RegisterServiceControlHandler(const std::u16string& service_name,
                                                       ServiceControlHandler handler) {
  Dispatcher& d = TheDispatcher();
  std::lock_guard<std::mutex> guard(d.mutex);
  if (d.control_fd < 0 || !handler || !EqualsIgnoreCaseAscii(Utf16ToUtf8(d.name), Utf16ToUtf8(service_name))) {
    SetLastError(ERROR_SERVICE_NOT_IN_EXE);
    return 0;
  }
  d.handler.store(handler);
  return StatusHandleValue();
}

bool ReportServiceStatus(ServiceStatusHandleValue handle, const ServiceStatusRecord& status) {
  Dispatcher& d = TheDispatcher();
  if (handle != StatusHandleValue()) return Fail(ERROR_INVALID_HANDLE);
  if (status.dwCurrentState < SERVICE_STOPPED || status.dwCurrentState > SERVICE_PAUSED) return Fail(13);
  std::lock_guard<std::mutex> guard(d.mutex);
  if (d.control_fd < 0) return Fail(ERROR_INVALID_HANDLE);
  {
    const auto lock = LockDatabase();
    ServiceConfig config;
    if (ReadConfig(d.folder, &config)) {
      WriteText(d.folder / "status", StatusLine(status));
      std::ofstream history(d.folder / "history", std::ios::app | std::ios::binary);
      history << StatusLine(status);
      history.close();
      if (status.dwCurrentState == SERVICE_STOPPED && config.deleted) {
        std::error_code ec;
        fs::remove_all(d.folder, ec);
      }
    }
  }
  if (status.dwCurrentState == SERVICE_STOPPED) {
    const std::uint32_t wake[2] = {kWakeStopped, 0};
    [[maybe_unused]] const ssize_t n = ::write(d.control_fd, wake, sizeof wake);
  }
  return true;
}

ULONG RegisterEventProvider(const GUID& /*provider_id*/, std::uint64_t* handle) {
  static std::atomic<std::uint64_t> next{0};
  if (!handle) return ERROR_INVALID_PARAMETER;
  *handle = ++next;
  return ERROR_SUCCESS;
}

ULONG UnregisterEventProvider(std::uint64_t handle) {
  return handle == 0 ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

}  // namespace plat
