// The simulated notebook's service control manager. See platform/service.h for its database.
//
// Controls travel over a FIFO per service that the service's dispatcher holds open for reading
// while the process lives: a controller writes {control, sequence} and waits for the sequence to
// come back over a second FIFO once the handler has returned, as Windows' ControlService waits for
// the handler. A status report of SERVICE_STOPPED wakes the dispatcher with a message of its own.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/fs.h"
#include "platform/launch.h"
#include "platform/process.h"
#include "platform/service.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "posix/errno_map.h"
#include "posix/spawn.h"
#include "sim/atomic_file.h"
#include "sim/machine.h"

namespace plat {

namespace {

namespace fs = std::filesystem;

constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_SERVICE_NOT_IN_EXE = 1083;
constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
constexpr DWORD SERVICE_INTERROGATE = 0x0080;
// How long a controller waits for the service's handler, as Windows' control manager does.
constexpr DWORD kControlWaitMs = 30000;
// The dispatcher's own message: the service has reported SERVICE_STOPPED.
constexpr std::uint32_t kWakeStopped = 0xFFFFFFFFu;
constexpr char kControlVariable[] = "TXL_SERVICE_CONTROL";

struct Config {
  std::u16string name;
  std::u16string display_name;
  DWORD service_type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::u16string binary_path;
  bool deleted = false;
};

fs::path ServicesRoot() {
  const fs::path root = sim::MachineDir() / "services";
  std::error_code ec;
  fs::create_directories(root, ec);
  return root;
}

bool ValidName(const std::u16string& name) {
  if (name.empty() || name.size() > 256 || name == u"." || name == u"..") return false;
  for (const char16_t c : name) {
    if (c == u'/' || c == u'\\' || c < 0x20) return false;
  }
  return true;
}

// Names compare case-insensitively, as on Windows: the folder carries the name in lower case.
fs::path ServiceFolder(const std::u16string& name) {
  std::u16string lower = name;
  for (auto& c : lower) c = AsciiLower(c);
  return ServicesRoot() / Utf16ToUtf8(lower);
}

std::string ControlFifo(const fs::path& folder) { return (folder / "control").string(); }
std::string ReplyFifo(const fs::path& folder) { return (folder / "reply").string(); }

std::unique_ptr<InterProcessFileLock> LockDatabase() {
  return LockFile(Utf8ToUtf16((ServicesRoot() / "services.lock").string()));
}

bool WriteText(const fs::path& file, const std::string& text) {
  return sim::ReplaceFileContents(file, std::vector<std::uint8_t>(text.begin(), text.end()));
}

bool ReadText(const fs::path& file, std::string* text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

bool ReadConfig(const fs::path& folder, Config* config) {
  std::string text;
  if (!ReadText(folder / "config", &text)) return false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    const auto number = [&value] { return static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10)); };
    if (key == "Name") config->name = Utf8ToUtf16(value);
    if (key == "DisplayName") config->display_name = Utf8ToUtf16(value);
    if (key == "Type") config->service_type = number();
    if (key == "Start") config->start_type = number();
    if (key == "ErrorControl") config->error_control = number();
    if (key == "ImagePath") config->binary_path = Utf8ToUtf16(value);
    if (key == "Deleted") config->deleted = value == "1";
  }
  return !config->name.empty();
}

bool WriteConfig(const fs::path& folder, const Config& config) {
  std::ostringstream out;
  out << "Name=" << Utf16ToUtf8(config.name) << "\n"
      << "DisplayName=" << Utf16ToUtf8(config.display_name) << "\n"
      << "Type=" << config.service_type << "\n"
      << "Start=" << config.start_type << "\n"
      << "ErrorControl=" << config.error_control << "\n"
      << "ImagePath=" << Utf16ToUtf8(config.binary_path) << "\n"
      << "Deleted=" << (config.deleted ? 1 : 0) << "\n";
  return WriteText(folder / "config", out.str());
}

std::string StatusLine(const ServiceStatusRecord& s) {
  return Format("%u %u %u %u %u %u %u\n", s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
}

bool ParseStatusLine(const std::string& line, ServiceStatusRecord* s) {
  std::istringstream in(line);
  return static_cast<bool>(in >> s->dwServiceType >> s->dwCurrentState >> s->dwControlsAccepted >>
                           s->dwWin32ExitCode >> s->dwServiceSpecificExitCode >> s->dwCheckPoint >> s->dwWaitHint);
}

pid_t ReadPid(const fs::path& folder) {
  std::string text;
  if (!ReadText(folder / "pid", &text)) return -1;
  return static_cast<pid_t>(std::strtol(text.c_str(), nullptr, 10));
}

ServiceStatusRecord StoppedStatus(const Config& config, DWORD exit_code) {
  ServiceStatusRecord s;
  s.dwServiceType = config.service_type;
  s.dwCurrentState = SERVICE_STOPPED;
  s.dwWin32ExitCode = exit_code;
  return s;
}

// The status as a caller sees it, under the database lock: a service whose process is gone
// without reporting SERVICE_STOPPED has stopped (and a service marked for deletion goes with it).
ServiceStatusRecord CurrentStatus(const fs::path& folder, const Config& config) {
  std::string text;
  ServiceStatusRecord status;
  if (!ReadText(folder / "status", &text) || !ParseStatusLine(text, &status)) {
    return StoppedStatus(config, ERROR_SERVICE_NEVER_STARTED);
  }
  if (status.dwCurrentState != SERVICE_STOPPED && !posix::ProcessAlive(ReadPid(folder))) {
    status = StoppedStatus(config, ERROR_PROCESS_ABORTED);
    WriteText(folder / "status", StatusLine(status));
    if (config.deleted) {
      std::error_code ec;
      fs::remove_all(folder, ec);
    }
  }
  return status;
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

// Opens a FIFO of the service folder, creating it first when missing.
int OpenFifo(const std::string& path, int flags) {
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return -1;
  return ::open(path.c_str(), flags | O_CLOEXEC);
}

class PosixService final : public ServiceHandle {
 public:
  PosixService(std::u16string name, DWORD access) : name_(std::move(name)), access_(access) {}

  bool QueryStatus(ServiceStatusRecord* status) override {
    if (!(access_ & SERVICE_QUERY_STATUS)) return Fail(ERROR_ACCESS_DENIED);
    if (!status) return Fail(ERROR_INVALID_PARAMETER);
    const auto lock = LockDatabase();
    Config config;
    const fs::path folder = ServiceFolder(name_);
    if (!ReadConfig(folder, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    *status = CurrentStatus(folder, config);
    return true;
  }

  bool Start() override {
    if (!(access_ & SERVICE_START)) return Fail(ERROR_ACCESS_DENIED);
    const auto lock = LockDatabase();
    Config config;
    const fs::path folder = ServiceFolder(name_);
    if (!ReadConfig(folder, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (config.deleted) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (CurrentStatus(folder, config).dwCurrentState != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);

    if (::mkfifo(ControlFifo(folder).c_str(), 0600) != 0 && errno != EEXIST) return Fail(Win32ErrorFromErrno(errno));
    if (::mkfifo(ReplyFifo(folder).c_str(), 0600) != 0 && errno != EEXIST) return Fail(Win32ErrorFromErrno(errno));
    const std::vector<std::u16string> args = SplitCommandLine(config.binary_path);
    if (args.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    posix::DetachedStart start;
    start.program = Utf16ToUtf8(args[0]);
    for (const auto& a : args) start.argv.push_back(Utf16ToUtf8(a));
    start.set_env.push_back(std::string(kControlVariable) + "=" + Utf16ToUtf8(config.name));
    start.output_file = (folder / "output.log").string();
    start.working_folder = sim::MachineDir().string();
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
      Config config;
      if (!ReadConfig(folder, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
      *status = CurrentStatus(folder, config);
    }
    const DWORD state = status->dwCurrentState;
    if (state == SERVICE_STOPPED) return Fail(ERROR_SERVICE_NOT_ACTIVE);
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (accept_bit && !(status->dwControlsAccepted & accept_bit)) return Fail(ERROR_INVALID_SERVICE_CONTROL);
    if (control == SERVICE_CONTROL_INTERROGATE) return true;

    // Read and write ends of the reply FIFO at once: it never reports a hang-up, and no opener blocks.
    const int reply = OpenFifo(ReplyFifo(folder), O_RDWR | O_NONBLOCK);
    if (reply < 0) return Fail(Win32ErrorFromErrno(errno));
    std::uint32_t stale = 0;
    while (::read(reply, &stale, sizeof stale) > 0) {
    }
    const int channel = ::open(ControlFifo(folder).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (channel < 0) {
      ::close(reply);
      return Fail(ERROR_SERVICE_NOT_ACTIVE);
    }
    static std::atomic<std::uint32_t> counter{0};
    const std::uint32_t sequence = (static_cast<std::uint32_t>(CurrentProcessId()) << 12) ^ ++counter;
    const std::uint32_t message[2] = {control, sequence & 0x7FFFFFFFu};
    const bool sent = ::write(channel, message, sizeof message) == static_cast<ssize_t>(sizeof message);
    ::close(channel);
    bool acknowledged = false;
    const DWORD wait_ms = ScaleMs(kControlWaitMs);
    // Poll in slices: a service that dies before answering is noticed without the whole wait.
    for (DWORD waited = 0; sent && !acknowledged && waited < wait_ms;) {
      const DWORD slice = std::min<DWORD>(100, wait_ms - waited);
      pollfd p{reply, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(slice));
      if (ready > 0) {
        std::uint32_t answer = 0;
        while (::read(reply, &answer, sizeof answer) == static_cast<ssize_t>(sizeof answer)) {
          acknowledged = acknowledged || answer == message[1];
        }
        continue;
      }
      if (ready < 0 && errno != EINTR) break;
      waited += slice;
      const auto lock = LockDatabase();
      if (!posix::ProcessAlive(ReadPid(folder))) break;
    }
    ::close(reply);
    {
      const auto lock = LockDatabase();
      Config config;
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
    if (!(access_ & DELETE)) return Fail(ERROR_ACCESS_DENIED);
    const auto lock = LockDatabase();
    Config config;
    const fs::path folder = ServiceFolder(name_);
    if (!ReadConfig(folder, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (config.deleted) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (CurrentStatus(folder, config).dwCurrentState == SERVICE_STOPPED) {
      std::error_code ec;
      fs::remove_all(folder, ec);
      return ec ? Fail(Win32ErrorFromErrno(ec.value())) : true;
    }
    config.deleted = true;
    return WriteConfig(folder, config) ? true : Fail(ERROR_ACCESS_DENIED);
  }

 private:
  std::u16string name_;
  DWORD access_;
};

class PosixServiceManager final : public ServiceManagerHandle {
 public:
  explicit PosixServiceManager(DWORD access) : access_(access) {}

  std::unique_ptr<ServiceHandle> Create(const ServiceIdentity& identity, DWORD desired_access) override {
    if (!(access_ & SC_MANAGER_CREATE_SERVICE)) return Refuse(ERROR_ACCESS_DENIED);
    if (!ValidName(identity.name)) return Refuse(ERROR_INVALID_NAME);
    if (identity.binary_path.empty() || identity.binary_path.find(u'\n') != std::u16string::npos ||
        identity.display_name.find(u'\n') != std::u16string::npos) {
      return Refuse(ERROR_INVALID_PARAMETER);
    }
    const auto lock = LockDatabase();
    const fs::path folder = ServiceFolder(identity.name);
    Config existing;
    if (ReadConfig(folder, &existing)) {
      return Refuse(existing.deleted ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
    }
    // A display name may not be another service's name or display name.
    const std::u16string display = identity.display_name.empty() ? identity.name : identity.display_name;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ServicesRoot(), ec)) {
      Config other;
      if (!entry.is_directory() || !ReadConfig(entry.path(), &other)) continue;
      if (SameName(other.display_name, display) || SameName(other.name, display) ||
          SameName(other.display_name, identity.name)) {
        return Refuse(ERROR_DUPLICATE_SERVICE_NAME);
      }
    }
    fs::create_directories(folder, ec);
    Config config;
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
    if (!ValidName(name)) return Refuse(ERROR_INVALID_NAME);
    const auto lock = LockDatabase();
    Config config;
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

// The dispatcher of this process, when it runs one.
struct Dispatcher {
  std::mutex mutex;
  std::u16string name;
  fs::path folder;
  int control_fd = -1;
  std::atomic<ServiceControlHandler> handler{nullptr};
};
Dispatcher& TheDispatcher() {
  static Dispatcher d;
  return d;
}
// The one status handle a process of one service hands out.
ServiceStatusHandleValue StatusHandleValue() { return reinterpret_cast<ServiceStatusHandleValue>(&TheDispatcher()); }

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
  const int fd = OpenFifo(ControlFifo(folder), O_RDWR);
  if (fd < 0) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  {
    std::lock_guard<std::mutex> guard(d.mutex);
    d.name = service_name;
    d.folder = folder;
    d.control_fd = fd;
  }
  std::u16string argument = service_name;
  char16_t* argv[2] = {argument.data(), nullptr};
  std::thread main_thread([&] { service_main(1, argv); });
  for (;;) {
    std::uint32_t message[2] = {0, 0};
    const ssize_t n = ::read(fd, message, sizeof message);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof message)) break;
    if (message[0] == kWakeStopped) break;
    if (const ServiceControlHandler handler = d.handler.load()) handler(message[0]);
    const int reply = ::open(ReplyFifo(folder).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (reply >= 0) {
      [[maybe_unused]] const ssize_t w = ::write(reply, &message[1], sizeof message[1]);
      ::close(reply);
    }
  }
  main_thread.join();
  {
    std::lock_guard<std::mutex> guard(d.mutex);
    d.control_fd = -1;
  }
  ::close(fd);
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
    Config config;
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

bool ServiceStatusHistory(const std::u16string& service_name, std::vector<ServiceStatusRecord>* out) {
  if (!out) return Fail(ERROR_INVALID_PARAMETER);
  if (!ValidName(service_name)) return Fail(ERROR_INVALID_NAME);
  const auto lock = LockDatabase();
  const fs::path folder = ServiceFolder(service_name);
  Config config;
  if (!ReadConfig(folder, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  out->clear();
  std::string text;
  ReadText(folder / "history", &text);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    ServiceStatusRecord s;
    if (ParseStatusLine(line, &s)) out->push_back(s);
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
