// A second process for the Windows tests:
//   win_child take <mutex name> <marker file>   appends "ready" to the marker, waits for the mutex,
//                                               appends "in", releases it
//   win_child take-and-die <mutex name>         waits for the mutex and ends holding it (exit 7)
//   win_child fault <dump path>                 installs the crash writer and writes through null
//   win_child raise <dump path>                 installs the crash writer and raises the access
//                                               violation that writing through null would
#include <cstdio>
#include <string>

#include "platform/crash_dump.h"
#include "platform/named_mutex.h"
#include "platform/types.h"
#include "platform/win32/os.h"

namespace {

void Append(const wchar_t* path, const char* line) {
  if (std::FILE* f = ::_wfopen(path, L"ab")) {
    std::fputs(line, f);
    std::fclose(f);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if ((mode == L"take" && argc == 4) || (mode == L"take-and-die" && argc == 3)) {
    auto mutex = plat::OpenNamedMutex(plat::win32::U(argv[2]));
    if (!mutex) return 2;
    if (mode == L"take") Append(argv[3], "ready\n");
    if (mutex->Wait() != WAIT_OBJECT_0) return 3;
    if (mode == L"take-and-die") ::ExitProcess(7);
    Append(argv[3], "in\n");
    return mutex->Release() ? 0 : 4;
  }
  if ((mode == L"fault" || mode == L"raise") && argc == 3) {
    if (!plat::InstallCrashDumpWriter(plat::win32::U(argv[2]))) return 2;
    if (mode == L"fault") {
      *static_cast<volatile int*>(nullptr) = 1;
      return 3;
    }
    // The same exception without a processor fault: it reaches the filter by the dispatcher alone,
    // whatever a CPU emulator tells the system about the fault.
    const ULONG_PTR write_to_null[] = {1, 0};  // a write, at address 0
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 2, write_to_null);
    return 3;
  }
  std::fputs("usage: win_child take|take-and-die|fault|raise ...\n", stderr);
  return 1;
}
