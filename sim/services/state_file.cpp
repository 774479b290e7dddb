#include "sim/services/state_file.h"

#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "platform/fs.h"

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
  std::ifstream in(file_, std::ios::binary);
  if (!in) return StateRead::kFailed;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.bad() ? StateRead::kFailed : StateRead::kRead;
}

bool StateFile::Write(const std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  const auto lock = plat::LockFile(lock_.u16string());
  if (!lock) return false;
  std::filesystem::path temp = file_;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, file_, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace sim::services
