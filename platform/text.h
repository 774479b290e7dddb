// Text: UTF-16 (char16_t) is the wide text of every platform; the "ANSI code page" is the
// thread's code page on Windows and UTF-8 on POSIX.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// Pure conversions, the same on every platform. Invalid input is replaced by U+FFFD, never dropped
// silently and never read past its end.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// The ANSI code page of the running system (Windows: CP_ACP; POSIX: UTF-8).
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);

// Length of a NUL-terminated UTF-16 string (0 for null).
std::size_t WideLength(const char16_t* text);

// printf-style formatting in which "%ls" (and "%S") take a const char16_t* (UTF-16) on every
// platform, written out in UTF-8; every other conversion behaves as in snprintf. The result is
// never longer than max_chars (cut at that length).
std::string FormatV(const char* format, std::va_list args, std::size_t max_chars = 16383);
std::string Format(const char* format, ...);

// ASCII-only case folding, as the suite's command texts and GUIDs need.
char16_t AsciiLower(char16_t c);
char16_t AsciiUpper(char16_t c);
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);

// The value of one hexadecimal digit (either case), -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
  return -1;
}

}  // namespace plat
