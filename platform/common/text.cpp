#include "platform/text.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace plat {

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  while (i < n) {
    const unsigned char c = byte(i);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      len = 4;
    } else {
      len = 0;  // invalid lead byte
    }
    if (len > 1) {
      bool ok = i + len <= n;
      char32_t v = c & (0xFF >> (len + 1));
      for (std::size_t k = 1; ok && k < len; ++k) {
        const unsigned char cc = byte(i + k);
        if ((cc & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cc & 0x3F);
      }
      const char32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
      if (ok && v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        cp = v;
      } else {
        len = 1;  // resynchronise on the next byte
        cp = 0xFFFD;
      }
    } else if (len == 0) {
      len = 1;
      cp = 0xFFFD;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // unpaired surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::size_t WideLength(const char16_t* text) {
  if (!text) return 0;
  std::size_t n = 0;
  while (text[n]) ++n;
  return n;
}

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

namespace {

// Formats one conversion with snprintf, whatever its length.
template <class T>
void AppendOne(std::string* out, const std::string& conversion, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    out->append(small, static_cast<std::size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<std::size_t>(n) + 1);
  std::snprintf(big.data(), big.size(), conversion.c_str(), value);
  out->append(big.data(), static_cast<std::size_t>(n));
}

}  // namespace

std::string FormatV(const char* format, std::va_list args, std::size_t max_chars) {
  std::string out;
  if (!format) return out;
  std::va_list ap;
  va_copy(ap, args);
  const char* p = format;
  while (*p && out.size() < max_chars) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out.push_back('%');
      ++p;
      continue;
    }
    // flags, width, precision
    while (*p && std::strchr("-+ #0", *p)) ++p;
    int star_args[2];
    int stars = 0;
    if (*p == '*') {
      star_args[stars++] = va_arg(ap, int);
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') ++p;
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        star_args[stars++] = va_arg(ap, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') ++p;
      }
    }
    // length modifier
    std::string length;
    // Windows' explicit widths: I64 is long long, I32 is int.
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      length = "ll";
      p += 3;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3;
    }
    while (*p && std::strchr("hlLqjzt", *p)) length.push_back(*p++);
    const char conv = *p ? *p++ : '\0';
    if (conv == '\0') break;
    std::string piece(start, static_cast<std::size_t>(p - start));
    for (const char* windows_width : {"I64", "I32"})
      if (const auto at = piece.find(windows_width); at != std::string::npos)
        piece.replace(at, 3, windows_width[1] == '6' ? "ll" : "");
    // Replace '*' by the values taken, so that one-argument snprintf calls suffice.
    for (int k = 0; k < stars; ++k) {
      const auto pos = piece.find('*');
      piece.replace(pos, 1, std::to_string(star_args[k]));
    }
    if ((conv == 's' && length == "l") || conv == 'S') {
      const char16_t* w = va_arg(ap, const char16_t*);
      std::string narrow = w ? Utf16ToUtf8(std::u16string_view(w, WideLength(w))) : std::string("(null)");
      std::string narrowed = piece.substr(0, piece.size() - (conv == 'S' ? 1 : 2)) + "s";
      AppendOne(&out, narrowed, narrow.c_str());
      continue;
    }
    switch (conv) {
      case 'd':
      case 'i':
        if (length == "ll" || length == "q") AppendOne(&out, piece, va_arg(ap, long long));
        else if (length == "l") AppendOne(&out, piece, va_arg(ap, long));
        else if (length == "z") AppendOne(&out, piece, va_arg(ap, std::size_t));
        else if (length == "j") AppendOne(&out, piece, va_arg(ap, long long));
        else AppendOne(&out, piece, va_arg(ap, int));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        if (length == "ll" || length == "q") AppendOne(&out, piece, va_arg(ap, unsigned long long));
        else if (length == "l") AppendOne(&out, piece, va_arg(ap, unsigned long));
        else if (length == "z") AppendOne(&out, piece, va_arg(ap, std::size_t));
        else if (length == "j") AppendOne(&out, piece, va_arg(ap, unsigned long long));
        else AppendOne(&out, piece, va_arg(ap, unsigned int));
        break;
      case 'c':
        AppendOne(&out, piece, va_arg(ap, int));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (length == "L") AppendOne(&out, piece, va_arg(ap, long double));
        else AppendOne(&out, piece, va_arg(ap, double));
        break;
      case 's': {
        const char* s = va_arg(ap, const char*);
        AppendOne(&out, piece, s ? s : "(null)");
        break;
      }
      case 'p':
        AppendOne(&out, piece, va_arg(ap, void*));
        break;
      default:
        out.append(piece);  // unknown conversion: shown as written, no argument taken
        break;
    }
  }
  va_end(ap);
  if (out.size() > max_chars) out.resize(max_chars);
  return out;
}

std::string Format(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::string s = FormatV(format, ap);
  va_end(ap);
  return s;
}

}  // namespace plat
