#include "sim/atomic_file.h"

#include <fstream>
#include <system_error>

namespace sim {

bool ReplaceFileContents(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::path temp = file;
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
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace sim
