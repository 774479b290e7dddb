// Reading one value of an INI file the way the Windows profile API reads it
// (GetPrivateProfileInt/GetPrivateProfileString): the file is read again on every call, so that a
// change made while the suite runs takes effect at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// The integer under [section] key of `file`; `fallback` when the file, the section or the key is
// absent. The value is taken as GetPrivateProfileInt takes it and cut to 32 bits, as its UINT
// result is.
int ReadProfileInt(const std::u16string& file, std::u16string_view section, std::u16string_view key, int fallback);

// The text under [section] key of `file`, at most `max_chars` characters (longer values are cut,
// as a buffer of max_chars + 1 cuts them); `fallback` (cut the same way) when absent.
std::u16string ReadProfileString(const std::u16string& file, std::u16string_view section, std::u16string_view key,
                                 std::u16string_view fallback, std::size_t max_chars);

}  // namespace plat
