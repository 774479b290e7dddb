// The control library's support services in a process of their own, run from a folder of its own:
//   api_child api-log <level> <text>       one line through the API log
//   api_child channel-log <level> <text>   one line through the channel log
//   api_child channel-refs                 prints the reference counts the channel log reports
//   api_child lock <marker file>           holds the process lock around "<pid> in"/"<pid> out"
//   api_child crash                        installs the crash record and crashes
//   api_child values [TEXT...]             identifies the module, writes each table text with
//                                          set_BodySarValue ("set <text> -> <result>"), then prints
//                                          "read <result> <text>" from get_BodySarValue (CR and LF
//                                          shown as \r and \n); exits with the number of failed writes
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/exports.h"
#include "api/support/global_tools.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace {

void Append(const char* path, const std::string& line) {
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fputs(line.c_str(), f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace IGlobalTools;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "api-log" && argc == 4) {
    ILogEx* log = GetApiLog();
    if (!log) return 2;
    log->WriteLog(std::atoi(argv[2]), "%s", argv[3]);
    return 0;
  }
  if (mode == "channel-log" && argc == 4) {
    ILog* log = GetChannelLog();
    log->WriteLog(std::atoi(argv[2]), "%s", argv[3]);
    log->Release();
    return 0;
  }
  if (mode == "channel-refs") {
    ILog* log = GetChannelLog();
    const long after_get = log->AddRef();
    void* made = nullptr;
    if (!CreateToolObject(CLSID_CLog, &made) || made != static_cast<void*>(log)) return 2;
    const long after_create = log->AddRef();
    std::printf("%ld %ld\n", after_get, after_create);
    return 0;
  }
  if (mode == "lock" && argc == 3) {
    ProcessLock lock;
    lock.OpenProcessLock();
    if (!lock.IsOpen()) return 2;
    lock.WaitProcessLock();
    const std::string pid = std::to_string(plat::CurrentProcessId());
    Append(argv[2], pid + " in\n");
    plat::SleepMs(5000);  // scaled by the test's time scale
    Append(argv[2], pid + " out\n");
    lock.ReleaseProcessLock();
    lock.CloseProcessLock();
    return 0;
  }
  if (mode == "values") {
    unsigned int ready = 0;
    get_IsMBIMReady(&ready);
    int failed = 0;
    for (int i = 2; i < argc; ++i) {
      std::string text = argv[i];
      const int result = set_BodySarValue(text.data());
      std::printf("set %s -> %d\n", argv[i], result);
      if (result != 0) ++failed;
    }
    static char read[kBodySarValueTextBytes];
    const int result = get_BodySarValue(read);
    std::string shown;
    for (const char* p = read; result == 0 && *p; ++p)
      shown += *p == '\r' ? "\\r" : *p == '\n' ? "\\n" : std::string(1, *p);
    std::printf("read %d %s\n", result, shown.c_str());
    return failed;
  }
  if (mode == "crash") {
    if (!InstallCrashDumpFilter()) return 2;
    std::raise(SIGSEGV);
    return 3;
  }
  std::fprintf(stderr, "usage: api_child api-log|channel-log|channel-refs|lock|crash|values ...\n");
  return 1;
}
