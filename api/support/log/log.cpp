#include "api/support/log/log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

#include "platform/fs.h"
#include "platform/known_folders.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace IGlobalTools {

namespace {

constexpr char16_t kSection[] = u"BASE_CONFIG";
constexpr char16_t kDefaultLogFolder[] = u"Corvid Kestrel Driver Package";
constexpr std::size_t kMaxLogFolderChars = 259;  // what a MAX_PATH buffer holds
constexpr std::size_t kMaxMessageChars = 16383;

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::atomic<LogClock> g_clock{&plat::GetLocalTimeNow};

// Logging is no news to the caller: the thread's last error is what it was before the line.
class KeepLastError {
 public:
  KeepLastError() : saved_(plat::GetLastError()) {}
  ~KeepLastError() { plat::SetLastError(saved_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

 private:
  plat::DWORD saved_;
};

std::u16string ConfigPath() { return plat::FolderOf(plat::HostExecutablePath()) + u"fbconfig.ini"; }

bool LevelPasses(int level, const std::u16string& config) {
  return level <= plat::ReadProfileInt(config, kSection, u"LOG_LV", -1);
}

// True when a relative path holds a ".." component.
bool ClimbsOut(const std::u16string& relative) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && !plat::IsPathSeparator(relative[i])) continue;
    if (relative.compare(start, i - start, u"..") == 0) return true;
    start = i + 1;
  }
  return false;
}

// "<common application data>\<LOG_PATH>\logs\<executable name><suffix>", creating the two
// folders. False, with *path untouched, when the LOG_PATH folder cannot be made.
bool DeriveLogPath(const std::u16string& config, const char16_t* suffix, std::string* path) {
  const std::u16string exe = plat::HostExecutablePath();
  std::size_t name_start = std::u16string::npos;
  for (std::size_t i = exe.size(); i > 0; --i)
    if (plat::IsPathSeparator(exe[i - 1])) {
      name_start = i;
      break;
    }
  std::u16string name = name_start == std::u16string::npos ? u"KrillConnectMonitor" : exe.substr(name_start);
  name += suffix;

  const std::u16string data = plat::CommonAppDataFolder();
  std::u16string folder = data;
  folder += plat::kPathSep;
  folder += plat::ReadProfileString(config, kSection, u"LOG_PATH", kDefaultLogFolder, kMaxLogFolderChars);
  // No folder is made through a link another user planted (see AppendLine), nor outside the data
  // folder: a LOG_PATH that climbs out with ".." is refused.
  if (plat::LinkBelow(data, folder) || ClimbsOut(folder.substr(data.size()))) return false;
  if (!plat::MakeFolder(folder) && plat::GetLastError() != plat::ERROR_ALREADY_EXISTS) return false;
  folder += plat::kPathSep;
  folder += u"logs";
  if (plat::LinkBelow(data, folder)) return false;
  plat::MakeFolder(folder);  // a failure shows when the file cannot be opened
  folder += plat::kPathSep;
  *path = plat::ToAnsi(folder + name);
  return true;
}

void AppendLine(const std::string& path, const char* format, std::va_list args) {
  if (path.empty()) return;
  // The common application data folder lets every user make folders in it, and the service runs
  // the tool as the system: a link planted at the log folder or file would have the system append
  // to a file of the planter's choosing. Such a line is not written.
  if (plat::LinkBelow(plat::CommonAppDataFolder(), plat::FromAnsi(path))) return;
  const plat::LocalTime t = g_clock.load()();
  std::string line = plat::Format("[%d] [%d] %02d-%02d %02d:%02d:%02d:%03d : ",
                                  static_cast<int>(plat::CurrentProcessId()),
                                  static_cast<int>(plat::CurrentThreadId()), t.month, t.day, t.hour, t.minute,
                                  t.second, t.millisecond);
  line += plat::FormatV(format ? format : "", args, kMaxMessageChars);
  line += '\n';
  const std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "a+"));
  if (!file) return;
  std::fwrite(line.data(), 1, line.size(), file.get());
  std::fflush(file.get());
}

}  // namespace

void SetLogClock(LogClock clock) { g_clock.store(clock ? clock : &plat::GetLocalTimeNow); }

template <class Interface>
LogObject<Interface>::LogObject(std::u16string config_path, const char16_t* suffix, bool fixes)
    : config_path_(std::move(config_path)), suffix_(suffix), fixes_(fixes) {}

template <class Interface>
void LogObject<Interface>::SetLogFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(lock_);
  log_path_ = path;
  fixed_ = fixes_;
}

template <class Interface>
int LogObject<Interface>::WriteLog(int level, const char* format, ...) {
  const KeepLastError keep;
  // Read outside the lock: a slow disk holds up this thread only, not every writer.
  if (!LevelPasses(level, config_path_)) return level;
  std::lock_guard<std::mutex> lock(lock_);
  if (!fixed_) DeriveLogPath(config_path_, suffix_, &log_path_);
  std::va_list args;
  va_start(args, format);
  AppendLine(log_path_, format, args);
  va_end(args);
  return level;
}

template <class Interface>
std::string LogObject<Interface>::LogFile() {
  std::lock_guard<std::mutex> lock(lock_);
  return log_path_;
}

template class LogObject<ILog>;
template class LogObject<ILogEx>;

CLog::CLog() : CLog(ConfigPath()) {}
CLog::CLog(std::u16string config_path) : LogObject(std::move(config_path), u".log", false) {}

void CLog::Release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

long CLog::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

CLogEx::CLogEx() : CLogEx(ConfigPath()) {}
CLogEx::CLogEx(std::u16string config_path) : LogObject(std::move(config_path), u"Ex.log", true) {}

void CLogEx::Release() { delete this; }

}  // namespace IGlobalTools
