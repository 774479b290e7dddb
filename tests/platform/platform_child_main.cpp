// A second process for the platform tests:
//   platform_child take <mutex name> <marker file>   waits for the mutex, appends "<pid> in" then
//                                                     "<pid> out" to the marker around a short hold,
//                                                     releases it
//   platform_child take-and-die <mutex name>         waits for the mutex and exits holding it
//   platform_child crash <windows path> <signal>     installs the crash writer and raises the signal
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/crash_dump.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace {

void Append(const char* path, const std::string& line) {
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fputs(line.c_str(), f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if ((mode == "take" && argc == 4) || (mode == "take-and-die" && argc == 3)) {
    auto mutex = plat::OpenNamedMutex(plat::Utf8ToUtf16(argv[2]));
    if (!mutex || mutex->Wait() != plat::WAIT_OBJECT_0) return 2;
    if (mode == "take-and-die") std::_Exit(0);
    const std::string pid = std::to_string(plat::CurrentProcessId());
    Append(argv[3], pid + " in\n");
    plat::SleepMs(2000);  // scaled by the test's time scale
    Append(argv[3], pid + " out\n");
    return mutex->Release() ? 0 : 3;
  }
  if (mode == "crash" && argc == 4) {
    if (!plat::InstallCrashDumpWriter(plat::Utf8ToUtf16(argv[2]))) return 2;
    std::raise(std::atoi(argv[3]));
    return 3;  // only if the signal did not end the process
  }
  std::fprintf(stderr, "usage: platform_child take|take-and-die|crash ...\n");
  return 1;
}
