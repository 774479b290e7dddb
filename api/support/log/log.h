// The library's two text logs. Both read their level (and the channel log its folder) from
// "fbconfig.ini" beside the executable again for every line, so that a level set while the suite
// runs takes effect at once.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "api/support/global_tools.h"
#include "platform/clock.h"

namespace IGlobalTools {

// Where the time in each line comes from.
using LogClock = plat::LocalTime (*)();
// Replaces the clock of every log; null puts the system's local time back. For tests.
void SetLogClock(LogClock clock);

// What the two logs share: the settings file, the path of the last line, and the writing of one
// line under the lock. The path is derived again for every line (so that a log folder that was
// deleted or a LOG_PATH that was changed is followed at once) until a log that `fixes` is given
// one by SetLogFile.
template <class Interface>
class LogObject : public Interface {
 public:
  LogObject(const LogObject&) = delete;
  LogObject& operator=(const LogObject&) = delete;

  void SetLogFile(const std::string& path) override;
  int WriteLog(int level, const char* format, ...) override;
  // The path the last line went to (or would have gone to).
  std::string LogFile();

 protected:
  LogObject(std::u16string config_path, const char16_t* suffix, bool fixes);
  ~LogObject() override = default;  // Release destroys

 private:
  std::mutex lock_;
  std::string log_path_;  // in the ANSI code page
  const std::u16string config_path_;
  const char16_t* const suffix_;
  const bool fixes_;
  bool fixed_ = false;
};
extern template class LogObject<ILog>;
extern template class LogObject<ILogEx>;

// The channel log: "<executable>.log"; a path SetLogFile gives holds until the next line.
class CLog final : public LogObject<ILog> {
 public:
  CLog();
  // Settings from `config_path` instead of "fbconfig.ini" beside the executable.
  explicit CLog(std::u16string config_path);
  void Release() override;
  long AddRef() override;

 private:
  ~CLog() override = default;
  std::atomic<long> refs_{1};
};

// The API log: "<executable>Ex.log", derived like the channel log's until SetLogFile fixes it.
class CLogEx final : public LogObject<ILogEx> {
 public:
  CLogEx();
  explicit CLogEx(std::u16string config_path);
  void Release() override;

 private:
  ~CLogEx() override = default;
};

}  // namespace IGlobalTools
