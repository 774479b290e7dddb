// The crash record on Windows: an unhandled-exception filter that writes a minidump, once.
#include <cstring>
#include <mutex>
#include <string>

#include "platform/crash_dump.h"
#include "platform/process.h"
#include "win32/os.h"

#include <dbghelp.h>

namespace plat {

namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, ::DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// Fixed before any crash: a crashed process should not allocate or load libraries.
wchar_t g_dump_path[MAX_PATH + 1];
MiniDumpWriteDumpFn g_write_dump = nullptr;
std::once_flag g_once;
bool g_ready = false;
::DWORD g_install_error = ERROR_SUCCESS;  // why the first installation failed

::LONG WINAPI WriteCrashDump(EXCEPTION_POINTERS* info) {
  // CREATE_NEW: the first crash is the one worth keeping; a later one leaves it alone.
  win32::UniqueHandle file(::CreateFileW(g_dump_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
  if (!file) return EXCEPTION_CONTINUE_SEARCH;
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = ::GetCurrentThreadId();
  exception.ExceptionPointers = info;
  exception.ClientPointers = FALSE;
  const BOOL written = g_write_dump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), MiniDumpNormal,
                                    &exception, nullptr, nullptr);
  return written ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool InstallCrashDumpWriter(const std::u16string& windows_path) {
  std::call_once(g_once, [&] {
    if (windows_path.empty() || windows_path.size() > MAX_PATH) {
      g_install_error = ERROR_INVALID_PARAMETER;
      return;
    }
    // dbghelp stays loaded for the life of the process: the filter may run at any time.
    HMODULE dbghelp = ::LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dbghelp) {
      g_install_error = ::GetLastError();
      return;
    }
    g_write_dump = reinterpret_cast<MiniDumpWriteDumpFn>(
        reinterpret_cast<void*>(::GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (!g_write_dump) {
      g_install_error = ::GetLastError();
      return;
    }
    std::memcpy(g_dump_path, windows_path.c_str(), (windows_path.size() + 1) * sizeof(wchar_t));
    g_ready = true;
  });
  if (!g_ready) {
    SetLastError(g_install_error);
    return false;
  }
  ::SetUnhandledExceptionFilter(WriteCrashDump);
  return true;
}

}  // namespace plat
