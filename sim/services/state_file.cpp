#include "sim/services/state_file.h"

#include <string>
#include <system_error>

#include "platform/fs.h"
#include "platform/whole_file.h"

namespace sim::services {

StateFile::StateFile(std::filesystem::path folder, const char* name)
    : folder_(std::move(folder)),
      file_(folder_ / (std::string(name) + ".bin")),
      lock_(folder_ / (std::string(name) + ".lock")) {}

StateRead StateFile::Read(std::vector<std::uint8_t>* bytes) const {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  const auto lock = plat::LockFile(lock_.u16string());
  if (!lock) return StateRead::kFailed;
  if (!std::filesystem::exists(file_, ec)) return ec ? StateRead::kFailed : StateRead::kAbsent;
  return plat::ReadFileContents(file_, bytes) ? StateRead::kRead : StateRead::kFailed;
}

bool StateFile::Write(const std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  const auto lock = plat::LockFile(lock_.u16string());
  if (!lock) return false;
  return plat::ReplaceFileContents(file_, bytes);
}

}  // namespace sim::services
