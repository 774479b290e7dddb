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

// The channel log: its path is derived again for every line, so a log folder that was deleted or
// a LOG_PATH that was changed is followed at once.
class CLog final : public ILog {
 public:
  CLog();
  // Settings from `config_path` instead of "fbconfig.ini" beside the executable.
  explicit CLog(std::u16string config_path);
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  // Until the next line derives the path again (unless that derivation fails).
  void SetLogFile(const std::string& path) override;
  int WriteLog(int level, const char* format, ...) override;
  void Release() override;
  long AddRef() override;

  // The path the last line went to (or would have gone to).
  std::string LogFile();

 private:
  ~CLog() override = default;  // Release destroys

  std::mutex lock_;
  std::string log_path_;  // in the ANSI code page
  const std::u16string config_path_;
  std::atomic<long> refs_{1};
};

// The API log: derived like the channel log's (with "Ex.log") until SetLogFile fixes it.
class CLogEx final : public ILogEx {
 public:
  CLogEx();
  explicit CLogEx(std::u16string config_path);
  CLogEx(const CLogEx&) = delete;
  CLogEx& operator=(const CLogEx&) = delete;

  void SetLogFile(const std::string& path) override;
  int WriteLog(int level, const char* format, ...) override;
  void Release() override;

  std::string LogFile();

 private:
  ~CLogEx() override = default;  // Release destroys

  std::mutex lock_;
  std::string log_path_;
  const std::u16string config_path_;
  bool fixed_ = false;
};

}  // namespace IGlobalTools
