// Shared fixtures of the bridge tests: a fresh simulated notebook per test, modem.ini writing,
// and a way to run a program of the build from a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace txltest {

namespace fs = std::filesystem;

// A new empty folder under the system's temporary folder, removed at the end of the test.
// `in_memory`: under /dev/shm where the system has it. The simulated modem syncs every NVM write
// inside its completion, and the bridge syncs its log file on every line, the completion's own
// line before the completion is taken; on a disk busy with other work either alone can outlast a
// scaled completion wait. Tests of whole programs keep their notebooks and hosts in memory.
class TempDir {
 public:
  explicit TempDir(bool in_memory = false) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("txl-") + (info ? info->test_suite_name() : "x") + "-" +
                       (info ? info->name() : "y") + "-" + std::to_string(plat::CurrentProcessId()) +
                       (in_memory ? "-mem" : "");
    for (char& c : name)
      if (c == '/') c = '_';
    std::error_code ec;
    const bool shm = in_memory && fs::is_directory("/dev/shm", ec);
    path_ = (shm ? fs::path("/dev/shm") : fs::temp_directory_path()) / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Points the simulator at a fresh notebook folder for the test's lifetime.
class MachineDirScope {
 public:
  explicit MachineDirScope(const fs::path& dir) : dir_(dir) {
    plat::SetEnv("TXL_MACHINE_DIR", dir.string().c_str());
  }
  ~MachineDirScope() { plat::SetEnv("TXL_MACHINE_DIR", nullptr); }
  fs::path ModemIni() const { return dir_ / "modem" / "modem.ini"; }
  fs::path Trace() const { return dir_ / "modem" / "trace.jsonl"; }

 private:
  fs::path dir_;
};

}  // namespace txltest
