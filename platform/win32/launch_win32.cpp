#include <cstdio>
#include <string>

#include "platform/launch.h"
#include "platform/process.h"
#include "platform/text.h"
#include "win32/os.h"

namespace plat {

namespace {

// "C:\..." or "\\server\...": a path that names its volume, so nothing is searched for.
bool IsFullPath(const std::u16string& path) {
  if (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/')) return true;
  return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

}  // namespace

bool SetCurrentFolder(const std::u16string& path) {
  return ::SetCurrentDirectoryW(win32::W(path.c_str())) != 0;
}

bool LaunchProgram(const std::u16string& application, const std::u16string& command_line) {
  if (!IsFullPath(application)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // CreateProcessW may write into the command line it is given.
  std::u16string mutable_line = command_line;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(win32::W(application.c_str()), win32::W(mutable_line.data()), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
    return false;
  }
  win32::UniqueHandle thread(info.hThread);
  win32::UniqueHandle process(info.hProcess);
  return true;
}

void OutputDebugText(const std::u16string& text) {
  const DWORD saved = ::GetLastError();
  ::OutputDebugStringW(win32::W(text.c_str()));
  ::SetLastError(saved);
}

void WriteStdoutWide(const std::u16string& text) {
  std::fflush(stdout);
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::DWORD mode = 0;
  if (out && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode)) {
    ::DWORD written = 0;
    ::WriteConsoleW(out, win32::W(text.c_str()), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  // Redirected: in the ANSI code page, as the C runtime's wide output writes it.
  const std::string narrow = ToAnsi(text);
  std::fwrite(narrow.data(), 1, narrow.size(), stdout);
  std::fflush(stdout);
}

}  // namespace plat
