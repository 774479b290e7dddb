#include "posix/service_database.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/machine.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/whole_file.h"
#include "posix/spawn.h"

namespace plat {

namespace posix {

namespace fs = std::filesystem;

fs::path ServicesRoot() {
  const fs::path root = MachineDir() / "services";
  std::error_code ec;
  fs::create_directories(root, ec);
  return root;
}

bool ValidServiceName(const std::u16string& name) {
  if (name.empty() || name.size() > 256 || name == u"." || name == u"..") return false;
  for (const char16_t c : name) {
    if (c == u'/' || c == u'\\' || c < 0x20) return false;
  }
  return true;
}

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
  return ReplaceFileContents(file, std::vector<std::uint8_t>(text.begin(), text.end()));
}

bool ReadText(const fs::path& file, std::string* text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

bool ReadConfig(const fs::path& folder, ServiceConfig* config) {
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

bool WriteConfig(const fs::path& folder, const ServiceConfig& config) {
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

ServiceStatusRecord StoppedStatus(const ServiceConfig& config, DWORD exit_code) {
  ServiceStatusRecord s;
  s.dwServiceType = config.service_type;
  s.dwCurrentState = SERVICE_STOPPED;
  s.dwWin32ExitCode = exit_code;
  return s;
}

ServiceStatusRecord CurrentStatus(const fs::path& folder, const ServiceConfig& config) {
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

bool FailWith(DWORD code) {
  SetLastError(code);
  return false;
}

UniqueFd OpenFifo(const std::string& path, int flags) {
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return UniqueFd();
  return UniqueFd(::open(path.c_str(), flags | O_CLOEXEC));
}

}  // namespace posix

bool ServiceStatusHistory(const std::u16string& service_name, std::vector<ServiceStatusRecord>* out) {
  if (!out) return posix::FailWith(ERROR_INVALID_PARAMETER);
  if (!posix::ValidServiceName(service_name)) return posix::FailWith(posix::ERROR_INVALID_NAME);
  const auto lock = posix::LockDatabase();
  const std::filesystem::path folder = posix::ServiceFolder(service_name);
  posix::ServiceConfig config;
  if (!posix::ReadConfig(folder, &config)) return posix::FailWith(ERROR_SERVICE_DOES_NOT_EXIST);
  out->clear();
  std::string text;
  posix::ReadText(folder / "history", &text);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    ServiceStatusRecord s;
    if (posix::ParseStatusLine(line, &s)) out->push_back(s);
  }
  return true;
}

}  // namespace plat
