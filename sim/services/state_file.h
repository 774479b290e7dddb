// A small file of modem state on the notebook, shared by every process: read and replaced whole
// under an inter-process lock, the new contents renamed over the old so no reader sees half.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace sim::services {

enum class StateRead { kAbsent, kRead, kFailed };

// folder/NAME.bin under the lock folder/NAME.lock.
class StateFile {
 public:
  StateFile(std::filesystem::path folder, const char* name);

  // kAbsent when nothing was ever written; bytes only with kRead.
  StateRead Read(std::vector<std::uint8_t>* bytes) const;
  bool Write(const std::vector<std::uint8_t>& bytes);

 private:
  std::filesystem::path folder_;
  std::filesystem::path file_;
  std::filesystem::path lock_;
};

}  // namespace sim::services
