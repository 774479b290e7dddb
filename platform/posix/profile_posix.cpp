#include <cstdint>

#include "platform/ini.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace plat {

namespace {

std::u16string Cut(std::u16string text, std::size_t max_chars) {
  if (text.size() > max_chars) text.resize(max_chars);
  return text;
}

}  // namespace

int ReadProfileInt(const std::u16string& file, std::u16string_view section, std::u16string_view key, int fallback) {
  const auto ini = IniFile::Load(Utf16ToUtf8(file));
  if (!ini) return fallback;
  const auto value = ini->Get(Utf16ToUtf8(section), Utf16ToUtf8(key));
  if (!value) return fallback;
  return static_cast<int>(static_cast<std::uint32_t>(ParseProfileInt(*value)));
}

std::u16string ReadProfileString(const std::u16string& file, std::u16string_view section, std::u16string_view key,
                                 std::u16string_view fallback, std::size_t max_chars) {
  const auto ini = IniFile::Load(Utf16ToUtf8(file));
  std::optional<std::string> value;
  if (ini) value = ini->Get(Utf16ToUtf8(section), Utf16ToUtf8(key));
  return Cut(value ? Utf8ToUtf16(*value) : std::u16string(fallback), max_chars);
}

}  // namespace plat
