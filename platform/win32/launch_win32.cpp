#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

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

namespace {

::HANDLE Duplicate(::HANDLE h) {
  ::HANDLE copy = nullptr;
  const ::HANDLE self = ::GetCurrentProcess();
  return ::DuplicateHandle(self, h, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) ? copy : nullptr;
}

}  // namespace

OwnOutput::~OwnOutput() { win32::UniqueHandle closed(reinterpret_cast<::HANDLE>(handle_)); }

bool OwnOutput::Write(std::string_view text) {
  // Text output on Windows ends its lines with CR LF, as the C runtime's text mode would.
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  for (std::size_t at = 0; at < out.size();) {
    ::DWORD written = 0;
    if (!::WriteFile(reinterpret_cast<::HANDLE>(handle_), out.data() + at, static_cast<::DWORD>(out.size() - at),
                     &written, nullptr) ||
        written == 0)
      return false;
    at += written;
  }
  return true;
}

std::unique_ptr<OwnOutput> DivertStandardOutput(bool to_standard_error) {
  std::fflush(stdout);
  const ::HANDLE original = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (!original || original == INVALID_HANDLE_VALUE) return nullptr;
  win32::UniqueHandle own(Duplicate(original));
  if (!own) return nullptr;
  win32::UniqueHandle target(to_standard_error ? Duplicate(::GetStdHandle(STD_ERROR_HANDLE))
                                               : ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                               nullptr, OPEN_EXISTING, 0, nullptr));
  if (!target) return nullptr;
  // The C runtime this program shares with the libraries it loads keeps its own descriptor 1; a
  // library with a C runtime of its own takes the standard handle when it loads.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(Duplicate(target.get())), _O_WRONLY | _O_TEXT);
  if (fd < 0 || ::_dup2(fd, 1) != 0) return nullptr;
  ::_close(fd);
  // The process keeps the standard handle from here on: it is not closed with `target`.
  if (!::SetStdHandle(STD_OUTPUT_HANDLE, target.release())) return nullptr;
  return std::make_unique<OwnOutput>(reinterpret_cast<std::intptr_t>(own.release()));
}

}  // namespace plat
