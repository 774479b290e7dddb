#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

#include "platform/machine.h"
#include "platform/launch.h"
#include "platform/process.h"
#include "platform/text.h"
#include "posix/errno_map.h"
#include "posix/spawn.h"
#include "posix/unique_fd.h"
#include "posix/write_all.h"

namespace plat {

namespace {

constexpr DWORD kErrorBadExeFormat = 193;

}  // namespace

bool SetCurrentFolder(const std::u16string& path) {
  if (::chdir(Utf16ToUtf8(path).c_str()) != 0) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    return false;
  }
  return true;
}

bool LaunchProgram(const std::u16string& application, const std::u16string& command_line) {
  if (application.empty() || application[0] != u'/') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  posix::DetachedStart start;
  start.program = Utf16ToUtf8(application);
  for (const auto& arg : SplitCommandLine(command_line)) start.argv.push_back(Utf16ToUtf8(arg));
  if (posix::StartDetached(start) < 0) {
    SetLastError(errno == ENOEXEC ? kErrorBadExeFormat : Win32ErrorFromErrno(errno));
    return false;
  }
  return true;
}

void OutputDebugText(const std::u16string& text) {
  const std::string line = Format("[%u] %s\n", static_cast<unsigned>(CurrentProcessId()), Utf16ToUtf8(text).c_str());
  // The debugger output never changes what the caller's last error says.
  const DWORD saved = GetLastError();
  const int saved_errno = errno;
  const std::string file = (MachineDir() / "debug-output.log").string();
  // One write of the whole line on an append descriptor: lines of several processes never mix.
  if (const posix::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)); fd) {
    [[maybe_unused]] const ssize_t n = ::write(fd.get(), line.data(), line.size());
  }
  if (const auto target = GetEnv("TXL_DEBUG_OUTPUT"); target && *target == "stderr") {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
  errno = saved_errno;
  SetLastError(saved);
}

void WriteStdoutWide(const std::u16string& text) {
  const std::string utf8 = Utf16ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

OwnOutput::~OwnOutput() { posix::UniqueFd closed(static_cast<int>(handle_)); }

bool OwnOutput::Write(std::string_view text) {
  return posix::WriteAll(static_cast<int>(handle_), text.data(), text.size());
}

std::unique_ptr<OwnOutput> DivertStandardOutput(bool to_standard_error) {
  std::fflush(stdout);
  posix::UniqueFd own(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
  if (!own) return nullptr;
  const posix::UniqueFd target(to_standard_error ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)
                                                 : ::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!target || ::dup2(target.get(), STDOUT_FILENO) < 0) return nullptr;
  return std::make_unique<OwnOutput>(own.release());
}

}  // namespace plat
