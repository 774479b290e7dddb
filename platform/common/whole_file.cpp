#include "platform/whole_file.h"

#include <fstream>
#include <system_error>
#include <utility>

namespace plat {

bool ReadFileContents(const std::filesystem::path& file, std::vector<std::uint8_t>* bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  // istream::read turns a failing read into badbit; the stream-buffer iterators would throw.
  std::vector<std::uint8_t> out;
  char chunk[8192];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    out.insert(out.end(), chunk, chunk + in.gcount());
    if (!in) break;
  }
  if (in.bad()) return false;
  *bytes = std::move(out);
  return true;
}

}  // namespace plat
