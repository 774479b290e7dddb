// The notebook's service control manager: creating, opening, starting, controlling and deleting
// services in the database (posix/service_database.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/launch.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "posix/errno_map.h"
#include "posix/service_database.h"
#include "posix/spawn.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

namespace fs = std::filesystem;
using posix::ControlFifo;
using posix::CurrentStatus;
using posix::LockDatabase;
using posix::ReadConfig;
using posix::ReadPid;
using posix::ReplyFifo;
using posix::ServiceConfig;
using posix::ServiceFolder;
using posix::ServicesRoot;
using posix::StatusLine;
using posix::StoppedStatus;
using posix::ValidServiceName;
using posix::WriteConfig;
using posix::WriteText;

constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
constexpr DWORD SERVICE_INTERROGATE = 0x0080;
// How long a controller waits for the service's handler, as Windows' control manager does.
constexpr DWORD kControlWaitMs = 30000;

bool Fail(DWORD code) { return posix::FailWith(code); }

class PosixService final : public ServiceHandle {
 public:
  PosixService(std::u16string name, DWORD access) : name_(std::move(name)), access_(access) {}

  bool QueryStatus(ServiceStatusRecord* status) override {
    if (!(access_ & SERVICE_QUERY_STATUS)) return Fail(ERROR_ACCESS_DENIED);
    if (!status) return Fail(ERROR_INVALID_PARAMETER);
    const auto lock = LockDatabase();
    Entry entry;
    if (!ReadEntry(SERVICE_QUERY_STATUS, false, &entry)) return false;
    *status = entry.status;
    return true;
  }

  bool Start() override {
    const auto lock = LockDatabase();
    Entry entry;
    if (!ReadEntry(SERVICE_START, true, &entry)) return false;
    if (entry.status.dwCurrentState != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    const ServiceConfig& config = entry.config;
    const fs::path& folder = entry.folder;

    if (::mkfifo(ControlFifo(folder).c_str(), 0600) != 0 && errno != EEXIST) return Fail(Win32ErrorFromErrno(errno));
    if (::mkfifo(ReplyFifo(folder).c_str(), 0600) != 0 && errno != EEXIST) return Fail(Win32ErrorFromErrno(errno));
    const std::vector<std::u16string> args = SplitCommandLine(config.binary_path);
    if (args.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    posix::DetachedStart start;
    start.program = Utf16ToUtf8(args[0]);
    for (const auto& a : args) start.argv.push_back(Utf16ToUtf8(a));
    start.set_env.push_back(std::string(posix::kControlVariable) + "=" + Utf16ToUtf8(config.name));
    start.output_file = (folder / "output.log").string();
    start.working_folder = MachineDir().string();
    start.new_session = true;

    // A new run: its history starts empty; the manager's own start-pending is no report.
    WriteText(folder / "history", "");
    ServiceStatusRecord pending;
    pending.dwServiceType = config.service_type;
    pending.dwCurrentState = SERVICE_START_PENDING;
    WriteText(folder / "status", StatusLine(pending));
    const pid_t pid = posix::StartDetached(start);
    if (pid < 0) {
      const DWORD error = errno == ENOEXEC ? 193 : Win32ErrorFromErrno(errno);
      WriteText(folder / "status", StatusLine(StoppedStatus(config, error)));
      return Fail(error);
    }
    WriteText(folder / "pid", std::to_string(pid));
    return true;
  }

  bool Control(DWORD control, ServiceStatusRecord* status) override {
    if (!status) return Fail(ERROR_INVALID_PARAMETER);
    DWORD needed = 0;
    DWORD accept_bit = 0;
    switch (control) {
      case SERVICE_CONTROL_STOP: needed = SERVICE_STOP; accept_bit = SERVICE_ACCEPT_STOP; break;
      // The notebook's stand-in for the system shutting down.
      case SERVICE_CONTROL_SHUTDOWN: needed = SERVICE_STOP; accept_bit = SERVICE_ACCEPT_SHUTDOWN; break;
      case SERVICE_CONTROL_PAUSE:
      case SERVICE_CONTROL_CONTINUE: needed = SERVICE_PAUSE_CONTINUE; accept_bit = SERVICE_ACCEPT_PAUSE_CONTINUE; break;
      case SERVICE_CONTROL_INTERROGATE: needed = SERVICE_INTERROGATE; break;
      default:
        if (control < 128 || control > 255) return Fail(ERROR_INVALID_PARAMETER);
        needed = SERVICE_USER_DEFINED_CONTROL;
    }
    if (!(access_ & needed)) return Fail(ERROR_ACCESS_DENIED);

    const fs::path folder = ServiceFolder(name_);
    // One controller at a time per service; never while holding the database lock, which the
    // service's handler needs for its own reports.
    const auto controller = LockFile(Utf8ToUtf16((folder / "control.lock").string()));
    if (!controller) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    {
      const auto lock = LockDatabase();
      ServiceConfig config;
      if (!ReadConfig(folder, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
      *status = CurrentStatus(folder, config);
    }
    const DWORD state = status->dwCurrentState;
    if (state == SERVICE_STOPPED) return Fail(ERROR_SERVICE_NOT_ACTIVE);
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (accept_bit && !(status->dwControlsAccepted & accept_bit)) return Fail(ERROR_INVALID_SERVICE_CONTROL);
    if (control == SERVICE_CONTROL_INTERROGATE) return true;

    // Read and write ends of the reply FIFO at once: it never reports a hang-up, and no opener blocks.
    const posix::UniqueFd reply = posix::OpenFifo(ReplyFifo(folder), O_RDWR | O_NONBLOCK);
    if (!reply) return Fail(Win32ErrorFromErrno(errno));
    std::uint32_t stale = 0;
    while (::read(reply.get(), &stale, sizeof stale) > 0) {
    }
    posix::UniqueFd channel(::open(ControlFifo(folder).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!channel) return Fail(ERROR_SERVICE_NOT_ACTIVE);
    static std::atomic<std::uint32_t> counter{0};
    const std::uint32_t sequence = (static_cast<std::uint32_t>(CurrentProcessId()) << 12) ^ ++counter;
    const std::uint32_t message[2] = {control, sequence & 0x7FFFFFFFu};
    const bool sent = ::write(channel.get(), message, sizeof message) == static_cast<ssize_t>(sizeof message);
    channel.reset();
    bool acknowledged = false;
    const DWORD wait_ms = Timeout::RoundTrip(kControlWaitMs).Scaled();  // another process answers
    // Poll in slices: a service that dies before answering is noticed without the whole wait.
    for (DWORD waited = 0; sent && !acknowledged && waited < wait_ms;) {
      const DWORD slice = std::min<DWORD>(100, wait_ms - waited);
      pollfd p{reply.get(), POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(slice));
      if (ready > 0) {
        std::uint32_t answer = 0;
        while (::read(reply.get(), &answer, sizeof answer) == static_cast<ssize_t>(sizeof answer)) {
          acknowledged = acknowledged || answer == message[1];
        }
        continue;
      }
      if (ready < 0 && errno != EINTR) break;
      waited += slice;
      const auto lock = LockDatabase();
      if (!posix::ProcessAlive(ReadPid(folder))) break;
    }
    {
      const auto lock = LockDatabase();
      ServiceConfig config;
      if (ReadConfig(folder, &config)) {
        *status = CurrentStatus(folder, config);
      } else {
        *status = StoppedStatus(config, 0);
      }
    }
    if (!sent) return Fail(ERROR_SERVICE_NOT_ACTIVE);
    if (!acknowledged) return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    return true;
  }

  bool Delete() override {
    const auto lock = LockDatabase();
    Entry entry;
    if (!ReadEntry(DELETE, true, &entry)) return false;
    if (entry.status.dwCurrentState == SERVICE_STOPPED) {
      std::error_code ec;
      fs::remove_all(entry.folder, ec);
      return ec ? Fail(Win32ErrorFromErrno(ec.value())) : true;
    }
    entry.config.deleted = true;
    return WriteConfig(entry.folder, entry.config) ? true : Fail(ERROR_ACCESS_DENIED);
  }

 private:
  struct Entry {
    fs::path folder;
    ServiceConfig config;
    ServiceStatusRecord status;
  };

  // This service's entry and status, read under the caller's database lock once the handle is
  // found to carry `right`; a service marked for deletion takes no new work when `refuse_deleted`.
  bool ReadEntry(DWORD right, bool refuse_deleted, Entry* entry) const {
    if (!(access_ & right)) return Fail(ERROR_ACCESS_DENIED);
    entry->folder = ServiceFolder(name_);
    if (!ReadConfig(entry->folder, &entry->config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (refuse_deleted && entry->config.deleted) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    entry->status = CurrentStatus(entry->folder, entry->config);
    return true;
  }

  std::u16string name_;
  DWORD access_;
};

class PosixServiceManager final : public ServiceManagerHandle {
 public:
  explicit PosixServiceManager(DWORD access) : access_(access) {}

  std::unique_ptr<ServiceHandle> Create(const ServiceIdentity& identity, DWORD desired_access) override {
    if (!(access_ & SC_MANAGER_CREATE_SERVICE)) return Refuse(ERROR_ACCESS_DENIED);
    if (!ValidServiceName(identity.name)) return Refuse(posix::ERROR_INVALID_NAME);
    if (identity.binary_path.empty() || identity.binary_path.find(u'\n') != std::u16string::npos ||
        identity.display_name.find(u'\n') != std::u16string::npos) {
      return Refuse(ERROR_INVALID_PARAMETER);
    }
    const auto lock = LockDatabase();
    const fs::path folder = ServiceFolder(identity.name);
    ServiceConfig existing;
    if (ReadConfig(folder, &existing)) {
      return Refuse(existing.deleted ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
    }
    // A display name may not be another service's name or display name.
    const std::u16string display = identity.display_name.empty() ? identity.name : identity.display_name;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ServicesRoot(), ec)) {
      ServiceConfig other;
      if (!entry.is_directory() || !ReadConfig(entry.path(), &other)) continue;
      if (SameName(other.display_name, display) || SameName(other.name, display) ||
          SameName(other.display_name, identity.name)) {
        return Refuse(ERROR_DUPLICATE_SERVICE_NAME);
      }
    }
    fs::create_directories(folder, ec);
    ServiceConfig config;
    config.name = identity.name;
    config.display_name = display;
    config.service_type = identity.service_type;
    config.start_type = identity.start_type;
    config.error_control = identity.error_control;
    config.binary_path = identity.binary_path;
    if (ec || !WriteConfig(folder, config)) return Refuse(ERROR_ACCESS_DENIED);
    return std::make_unique<PosixService>(identity.name, desired_access);
  }

  std::unique_ptr<ServiceHandle> Open(const std::u16string& name, DWORD desired_access) override {
    if (!ValidServiceName(name)) return Refuse(posix::ERROR_INVALID_NAME);
    const auto lock = LockDatabase();
    ServiceConfig config;
    if (!ReadConfig(ServiceFolder(name), &config)) return Refuse(ERROR_SERVICE_DOES_NOT_EXIST);
    return std::make_unique<PosixService>(config.name, desired_access);
  }

 private:
  static std::unique_ptr<ServiceHandle> Refuse(DWORD code) {
    SetLastError(code);
    return nullptr;
  }
  static bool SameName(const std::u16string& a, const std::u16string& b) {
    return EqualsIgnoreCaseAscii(Utf16ToUtf8(a), Utf16ToUtf8(b));
  }
  DWORD access_;
};

}  // namespace

std::unique_ptr<ServiceManagerHandle> OpenServiceManager(DWORD desired_access) {
  std::error_code ec;
  const fs::path root = ServicesRoot();
  if (!fs::is_directory(root, ec)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return std::make_unique<PosixServiceManager>(desired_access);
}

}  // namespace plat
