// Helpers shared by the platform tests.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/process.h"
#include "platform/text.h"

namespace txl_test {

// Sets an environment variable for the life of the object and puts the old value back after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), old_(plat::GetEnv(name)) {
    plat::SetEnv(name, value);
  }
  ~ScopedEnv() { plat::SetEnv(name_.c_str(), old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh folder under the system's temporary folder, removed with everything in it afterwards.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("txl-platform-" + std::to_string(plat::CurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder, or a path inside it, as the platform functions take it.
  std::u16string Wide(const std::string& child = "") const {
    const auto p = child.empty() ? path_ : path_ / child;
    return plat::FromAnsi(p.string());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace txl_test
