#include <cstdlib>
#include <string>

#include "platform/process.h"
#include "platform/text.h"
#include "win32/os.h"

namespace plat {

DWORD CurrentProcessId() { return ::GetCurrentProcessId(); }
DWORD CurrentThreadId() { return ::GetCurrentThreadId(); }

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

// Names and values travel as UTF-8, as they do on POSIX: the variables carry paths (the machine
// folder, the user's profile) that the ANSI code page may not be able to spell.
std::optional<std::string> GetEnv(const char* name) {
  if (!name || !*name) return std::nullopt;
  const std::u16string wide_name = Utf8ToUtf16(name);
  const wchar_t* v = ::_wgetenv(win32::W(wide_name.c_str()));
  if (!v) return std::nullopt;
  return Utf16ToUtf8(win32::U(v));
}

// Both the CRT's copy of the environment (what getenv reads) and the process environment block
// (what child processes inherit and GetEnvironmentVariable reads) are updated, so that neither
// reader sees a stale value. The CRT cannot hold an empty value: setting "" removes the variable,
// and the block is made to agree.
bool SetEnv(const char* name, const char* value) {
  if (!name || !*name || std::string_view(name).find('=') != std::string_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::u16string wide_name = Utf8ToUtf16(name);
  const bool remove = !value || !*value;
  const std::u16string wide_value = remove ? std::u16string() : Utf8ToUtf16(value);
  const std::u16string assignment = wide_name + u'=' + wide_value;
  if (::_wputenv(win32::W(assignment.c_str())) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!::SetEnvironmentVariableW(win32::W(wide_name.c_str()), remove ? nullptr : win32::W(wide_value.c_str()))) {
    // Removing a variable that is not there is not a failure.
    return remove && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
  }
  return true;
}

std::u16string HostExecutablePath() {
  // The path may be longer than MAX_PATH; a buffer that was too small comes back filled to the brim.
  std::u16string buf(MAX_PATH, u'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(buf.size());
    const DWORD n = ::GetModuleFileNameW(nullptr, win32::W(buf.data()), capacity);
    if (n == 0) return std::u16string();  // the system has set the last error
    if (n < capacity) {
      buf.resize(n);
      return buf;
    }
    if (buf.size() >= 32768) {  // the longest path Windows has
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return std::u16string();
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace plat
