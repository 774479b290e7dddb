#include <climits>

#include "platform/text.h"
#include "platform/types.h"
#include "win32/os.h"

namespace plat {

// Longer texts than the conversion functions take in one call are not something the suite
// converts; they come back empty rather than cut.
std::string ToAnsi(std::u16string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  const auto* src = win32::W(text.data());
  const int in = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_ACP, 0, src, in, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  const int written = ::WideCharToMultiByte(CP_ACP, 0, src, in, out.data(), n, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

std::u16string FromAnsi(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::u16string();
  const int in = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), in, nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  const int written = ::MultiByteToWideChar(CP_ACP, 0, text.data(), in, win32::W(out.data()), n);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

}  // namespace plat
