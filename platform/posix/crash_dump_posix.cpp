// The crash record on POSIX: a handler of the fatal signals that writes a short report with
// async-signal-safe calls only, then lets the signal kill the process as it would have.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/crash_dump.h"
#include "platform/process.h"
#include "platform/text.h"
#include "posix/errno_map.h"
#include "posix/write_all.h"
#include "posix/unique_fd.h"
#include "posix/windows_path.h"

namespace plat {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Fixed before any crash: the handler may not allocate.
char g_dump_path[4096];
std::once_flag g_path_once;
bool g_path_ok = false;

void WriteText(int fd, const char* text) { posix::WriteAll(fd, text, std::strlen(text)); }

void WriteNumber(int fd, long long value) {
  char digits[24];
  char* p = digits + sizeof digits;
  *--p = '\0';
  const bool negative = value < 0;
  unsigned long long v = negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) *--p = '-';
  WriteText(fd, p);
}

void WriteCrashDump(int signal_number) {
  const int saved_errno = errno;
  if (const posix::UniqueFd dump(::open(g_dump_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)); dump) {
    const int fd = dump.get();
    WriteText(fd, "signal ");
    WriteNumber(fd, signal_number);
    WriteText(fd, "\nprocess ");
    WriteNumber(fd, ::getpid());
    WriteText(fd, "\nthread ");
    WriteNumber(fd, ::syscall(SYS_gettid));
    WriteText(fd, "\nstack:\n");
    void* frames[64];
    const int depth = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, depth, fd);
  }
  // The default action again, and the same signal once this handler returns: the process ends
  // as the crash would have ended it (core dump, exit status) without the report.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigemptyset(&dfl.sa_mask);
  ::sigaction(signal_number, &dfl, nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

}  // namespace

bool InstallCrashDumpWriter(const std::u16string& windows_path) {
  std::call_once(g_path_once, [&] {
    const std::string path = posix::MapWindowsPath(windows_path).string();
    if (path.empty() || path.size() >= sizeof g_dump_path) return;
    std::memcpy(g_dump_path, path.c_str(), path.size() + 1);
    // backtrace loads its unwinder on first use; that must not happen inside the handler.
    void* warm[1];
    ::backtrace(warm, 1);
    g_path_ok = true;
  });
  if (!g_path_ok) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  struct sigaction sa {};
  sa.sa_handler = WriteCrashDump;
  ::sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_ONSTACK;
  for (const int sig : kFatalSignals)
    if (::sigaction(sig, &sa, nullptr) != 0) {
      SetLastError(Win32ErrorFromErrno(errno));
      return false;
    }
  return true;
}

}  // namespace plat
