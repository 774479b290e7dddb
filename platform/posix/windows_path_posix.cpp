#include "posix/windows_path.h"

#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/text.h"

namespace plat::posix {

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::filesystem::path MapWindowsPath(std::u16string_view windows_path) {
  std::u16string_view rest = windows_path;
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) return {};
  std::filesystem::path root = MachineDir();
  if (rest.size() >= 2 && rest[1] == u':' &&
      ((rest[0] >= u'A' && rest[0] <= u'Z') || (rest[0] >= u'a' && rest[0] <= u'z'))) {
    const char16_t drive = AsciiUpper(rest[0]);
    if (drive != u'C') root /= std::u16string(1, drive) + u"_drive";
    rest.remove_prefix(2);
  }
  std::vector<std::u16string> parts;
  while (!rest.empty()) {
    std::size_t n = 0;
    while (n < rest.size() && !IsSeparator(rest[n])) ++n;
    const std::u16string_view part = rest.substr(0, n);
    rest.remove_prefix(n < rest.size() ? n + 1 : n);
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.emplace_back(part);
  }
  for (const auto& p : parts) root /= p;
  return root;
}

std::filesystem::path CommonAppDataDir() { return MachineDir() / "ProgramData"; }

}  // namespace plat::posix
