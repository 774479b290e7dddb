// The order in which folder listings are given, the same on every platform and file system.
#pragma once

#include <algorithm>
#include <string>

#include "platform/text.h"

namespace plat {

// NTFS orders names by their upper-cased UTF-16 units. Names that differ only in case, which NTFS
// does not hold side by side but other file systems do, follow in code-unit order so that a
// listing never depends on the order the directory happened to give.
inline bool NtfsNameLess(const std::u16string& a, const std::u16string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = AsciiUpper(a[i]);
    const char16_t y = AsciiUpper(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace plat
