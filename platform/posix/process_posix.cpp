#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/process.h"
#include "platform/text.h"

namespace plat {

namespace {
thread_local DWORD t_last_error = 0;
}

DWORD CurrentProcessId() { return static_cast<DWORD>(::getpid()); }
DWORD CurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD code) { t_last_error = code; }

std::optional<std::string> GetEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

bool SetEnv(const char* name, const char* value) {
  return (value ? ::setenv(name, value, 1) : ::unsetenv(name)) == 0;
}

std::u16string HostExecutablePath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::u16string();
  }
  buf.resize(static_cast<std::size_t>(n));
  return Utf8ToUtf16(buf);
}

}  // namespace plat
