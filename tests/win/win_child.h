// Running win_child (a second process of the Windows tests) and reading how it ended.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"
#include "platform/win32/os.h"

namespace txl_win_test {

// A started child: CreateProcessW with the arguments quoted for the C runtime's parser.
class Child {
 public:
  explicit Child(const std::vector<std::wstring>& args) {
    std::wstring line = L"\"" WIN_CHILD L"\"";
    for (const auto& a : args) line += L" \"" + a + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      process_ = plat::win32::UniqueHandle(pi.hProcess);
      ::CloseHandle(pi.hThread);
      id_ = pi.dwProcessId;
    }
  }
  bool started() const { return static_cast<bool>(process_); }
  ::DWORD id() const { return id_; }
  // True once the child has ended, waiting at most timeout_ms (unscaled: the bound of a test).
  bool EndsWithin(::DWORD timeout_ms) const {
    return process_ && ::WaitForSingleObject(process_.get(), timeout_ms) == WAIT_OBJECT_0;
  }
  // The exit code once the child has ended (at most 60 s), ~0 if it did not.
  ::DWORD ExitCode() const {
    ::DWORD code = ~0u;
    if (EndsWithin(60000)) ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  plat::win32::UniqueHandle process_;
  ::DWORD id_ = 0;
};

}  // namespace txl_win_test
