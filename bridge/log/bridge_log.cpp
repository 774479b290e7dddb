#include "bridge/log/bridge_log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/text.h"

#ifndef TXL_BRIDGE_VERSION_TEXT
#error "the build defines the bridge version text"
#endif

namespace vexel {

int DebugLevel = 2;

namespace {

std::recursive_mutex& FileMutex() {
  static auto* m = new std::recursive_mutex;  // outlives every thread that may still log at exit
  return *m;
}
// Made on first use (the library's attach may run before this file's static initialisers) and
// never destroyed (its detach may run after static destruction, with a last line to write).
std::unique_ptr<plat::ExclusiveWriteFile>& LogFile() {
  static auto* file = new std::unique_ptr<plat::ExclusiveWriteFile>;
  return *file;
}
long long g_logStartTime = 0;
// Set while WriteLogFile reports a failed flush, so that the report cannot feed on itself.
thread_local bool t_reportingFlushFailure = false;

std::string Prefix() {
  const plat::LocalTime t = plat::GetLocalTimeNow();
  return plat::Format("%d-%d-%d\t%02d:%02d:%02d.%03d\t", t.year, t.month, t.day, t.hour, t.minute, t.second,
                      t.millisecond);
}

void ConsoleWrite(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// The log folder, "Dll_log" plus a separator beside the host executable, in the ANSI code page.
std::string LogFolder() {
  const std::u16string host = plat::FolderOf(plat::HostExecutablePath());
  return plat::ToAnsi(host) + "Dll_log" + plat::ToAnsi(std::u16string(1, plat::kPathSep));
}

}  // namespace

long long LogStartTime() { return g_logStartTime; }

void LogLine(const char* format, ...) {
  if (DebugLevel == 0) return;
  std::va_list ap;
  va_start(ap, format);
  const std::string line = plat::FormatV(format, ap);
  va_end(ap);
  switch (DebugLevel) {
    case 1:
      ConsoleWrite(Prefix() + line);
      break;
    case 2:
      ConsoleWrite(Prefix() + line);
      WriteLogFile("%s%s", Prefix().c_str(), line.c_str());
      break;
    case 3:
      WriteLogFile("%s%s", Prefix().c_str(), line.c_str());
      break;
    default:
      ConsoleWrite(Prefix() + "Wrong WDS debug level\n");
      break;
  }
}

int WriteLogFile(const char* format, ...) {
  std::lock_guard<std::recursive_mutex> lock(FileMutex());
  if (!LogFile()) return -1;
  std::va_list ap;
  va_start(ap, format);
  const std::string text = plat::FormatV(format, ap);
  va_end(ap);
  if (!LogFile()->Write(text.data(), text.size())) return -1;
  if (const int r = LogFile()->Flush(); r != 0) return r;
  if (t_reportingFlushFailure) return -1;
  if (!LogFile()) {
    t_reportingFlushFailure = true;
    LogLine("NOTICE: Error in fileno \n");
    t_reportingFlushFailure = false;
    return -1;
  }
  if (LogFile()->Sync() != 0) {
    // Reported once: the notice itself goes through the same file and must not report again.
    t_reportingFlushFailure = true;
    LogLine("NOTICE: Error in fdatasync log file\n");
    t_reportingFlushFailure = false;
    return -1;
  }
  return 0;
}

void ControlDllLogNumber(char16_t* folder_path, int limit) {
  plat::SleepMs(1000);
  const std::size_t folder_len = plat::WideLength(folder_path);
  const std::u16string folder(folder_path, folder_len);
  std::vector<plat::FolderEntry> entries;
  if (!plat::ListFolder(folder, &entries) || entries.empty()) {
    LogLine("%s --, not found files\n", "ControlDllLogNumber");
    return;
  }
  // The first entry is the folder's own "." and is not examined; only real files count.
  auto dated = [](const plat::FolderEntry& e) { return e.is_regular_file && !e.name.empty() && e.name[0] == u'2'; };
  int count = 1;
  for (std::size_t i = 1; i < entries.size(); ++i)
    if (dated(entries[i])) ++count;
  if (count <= limit) return;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (!dated(entries[i])) continue;
    const std::u16string& name = entries[i].name;
    if (folder_len + name.size() + 1 > kLogPathChars) return;  // the caller's buffer cannot hold it
    std::copy(name.begin(), name.end(), folder_path + folder_len);
    folder_path[folder_len + name.size()] = u'\0';
    LogLine("remove: %ls\n", folder_path);
    plat::DeleteFileAt(std::u16string(folder_path));
    return;
  }
}

int OpenLogFile() {
  std::lock_guard<std::recursive_mutex> lock(FileMutex());
  if (LogFile()) return 0;
  const std::string folder = LogFolder();
  const std::u16string wide_folder = plat::FromAnsi(folder);
  if (!plat::FolderAccessible(wide_folder)) {
    LogLine("Log path:%s\n", folder.c_str());
    plat::MakeFolder(wide_folder);
  }
  const plat::LocalTime t = plat::GetLocalTimeNow();
  const std::string path = folder + plat::Format("%04d-%02d-%02d_%02d_%02d_%02d.txt", t.year, t.month, t.day,
                                                 t.hour, t.minute, t.second);
  // A path the system cannot take leaves the library running without a file.
  if (path.size() > kMaxLogFilePath || wide_folder.size() >= kLogPathChars) {
    LogLine("ERROR: Error opening log file %s\n", path.c_str());
    return -1;
  }
  char16_t buffer[kLogPathChars] = {};
  std::copy(wide_folder.begin(), wide_folder.end(), buffer);
  ControlDllLogNumber(buffer, kLogFileLimit);
  g_logStartTime = plat::UnixTimeNow();
  LogFile() = plat::OpenExclusiveWriteFile(plat::FromAnsi(path));
  if (!LogFile()) {
    g_logStartTime = 0;
    LogLine("ERROR: Error opening log file %s\n", path.c_str());
    return -1;
  }
  return 0;
}

void CloseLogFile() {
  std::lock_guard<std::recursive_mutex> lock(FileMutex());
  LogFile().reset();
  g_logStartTime = 0;
}

void ConsolePrintf(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  const std::string text = plat::FormatV(format, ap);
  va_end(ap);
  ConsoleWrite(text);
}

void ConsoleHexDump(const char* caption, const std::uint8_t* bytes, std::size_t count) {
  std::string text = caption ? caption : "";
  for (std::size_t i = 0; i < count; ++i) text += plat::Format("%02X ", bytes[i]);
  text += "\n";
  ConsoleWrite(text);
}

void OnProcessAttach() {
  OpenLogFile();
  LogLine("SarLinkDll version: %ls\n", TXL_BRIDGE_VERSION_TEXT);
  LogLine("DLL_PROCESS_ATTACH\n");
}

void OnProcessDetach() {
  LogLine("DLL_PROCESS_DETACH\n");
  CloseLogFile();
}

}  // namespace vexel
