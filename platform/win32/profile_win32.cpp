#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/types.h"
#include "win32/os.h"

namespace plat {

int ReadProfileInt(const std::u16string& file, std::u16string_view section, std::u16string_view key, int fallback) {
  const std::u16string s(section), k(key);
  return static_cast<int>(::GetPrivateProfileIntW(win32::W(s.c_str()), win32::W(k.c_str()), fallback,
                                                   win32::W(file.c_str())));
}

std::u16string ReadProfileString(const std::u16string& file, std::u16string_view section, std::u16string_view key,
                                 std::u16string_view fallback, std::size_t max_chars) {
  const std::u16string s(section), k(key), f(fallback);
  std::vector<wchar_t> buf(max_chars + 1, L'\0');
  const ::DWORD n = ::GetPrivateProfileStringW(win32::W(s.c_str()), win32::W(k.c_str()), win32::W(f.c_str()),
                                               buf.data(), static_cast<::DWORD>(buf.size()), win32::W(file.c_str()));
  return std::u16string(win32::U(buf.data()), n);
}

}  // namespace plat
