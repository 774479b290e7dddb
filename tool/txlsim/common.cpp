#include <cstdint>
#include <vector>

#include "platform/text.h"
#include "platform/whole_file.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

std::string PathText(const std::filesystem::path& p) { return plat::Utf16ToUtf8(p.u16string()); }

std::string ReadText(const std::filesystem::path& p) {
  std::vector<std::uint8_t> bytes;
  if (!plat::ReadFileContents(p, &bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
}

const char* FamilyName(sim::ModemFamily f) {
  switch (f) {
    case sim::ModemFamily::kOsprey:
      return "osprey";
    case sim::ModemFamily::kKestrel:
      return "kestrel";
    default:
      return "other";
  }
}

}  // namespace txlsim
