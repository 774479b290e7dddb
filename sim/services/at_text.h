// Reading AT command text: letters compare without regard to case, blanks may stand around the
// fields, numbers are plain decimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace sim::services {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

inline std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(plat::AsciiUpper(static_cast<unsigned char>(c)));
  return out;
}

inline bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && plat::EqualsIgnoreCaseAscii(text.substr(0, prefix.size()), prefix);
}

// A decimal number of at most `max`, the whole of `text` (no sign, no blanks).
inline std::optional<std::uint32_t> WholeDecimal(std::string_view text, std::uint32_t max) {
  if (text.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > max) return std::nullopt;
  }
  return static_cast<std::uint32_t>(v);
}

// Walks a text field by field; every step either takes what it expects or leaves the cursor
// where it was.
class TextCursor {
 public:
  explicit TextCursor(std::string_view text) : rest_(text) {}

  bool AtEnd() const { return rest_.empty(); }
  std::string_view rest() const { return rest_; }

  void SkipBlanks() {
    while (!rest_.empty() && IsBlank(rest_.front())) rest_.remove_prefix(1);
  }
  // `word` in any letter case.
  bool Take(std::string_view word) {
    if (!StartsWithIgnoreCase(rest_, word)) return false;
    rest_.remove_prefix(word.size());
    return true;
  }
  std::optional<std::uint32_t> Decimal(std::uint32_t max) {
    std::size_t n = 0;
    while (n < rest_.size() && rest_[n] >= '0' && rest_[n] <= '9') ++n;
    const auto v = WholeDecimal(rest_.substr(0, n), max);
    if (v) rest_.remove_prefix(n);
    return v;
  }
  // Everything up to (not including) `stop`, which must follow; the cursor moves past `stop`.
  std::optional<std::string_view> Until(char stop) {
    const std::size_t at = rest_.find(stop);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view taken = rest_.substr(0, at);
    rest_.remove_prefix(at + 1);
    return taken;
  }

 private:
  std::string_view rest_;
};

}  // namespace sim::services
