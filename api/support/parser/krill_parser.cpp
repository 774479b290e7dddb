#include "api/support/parser/krill_parser.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <span>

#include "platform/bytes.h"

namespace IGlobalTools {

namespace {

constexpr std::size_t kLengthPrefixBytes = 4;

}  // namespace

void CKrillParser::ParseReply(const std::uint8_t* reply, std::size_t length, std::string* out) {
  if (!out || !reply || length == 0) return;
  const char* bytes = reinterpret_cast<const char*>(reply);
  // A reply too short to hold a count is plain text, and so is one whose count is not below its
  // length.
  const std::optional<std::uint32_t> prefix = plat::ReadU32(std::span(reply, length), 0);
  if (!prefix || *prefix >= length) {
    out->append(bytes, length);
    return;
  }
  // A count larger than what follows it takes only what is there.
  const std::size_t carried = std::min<std::size_t>(*prefix, length - kLengthPrefixBytes);
  out->append(bytes + kLengthPrefixBytes, carried);
}

std::string CKrillParser::KeepChars(std::string text, std::string allowed) {
  std::erase_if(text, [&](char c) { return allowed.find(c) == std::string::npos; });
  return text;
}

std::string CKrillParser::RemoveChars(std::string text, std::string removed) {
  std::erase_if(text, [&](char c) { return removed.find(c) != std::string::npos; });
  return text;
}

std::string CKrillParser::HexToDecimal(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // Unsigned arithmetic wraps where the signed 32-bit value would overflow; the bits are the same.
  std::uint32_t value = 0;
  if (text.starts_with("0X")) {
    for (std::size_t i = 2; i < text.size(); ++i) {
      const int c = static_cast<unsigned char>(text[i]);
      const int digit = c > '9' ? c - 55 : c - 48;
      value = value * 16u + static_cast<std::uint32_t>(digit);
    }
  }
  return std::to_string(static_cast<std::int32_t>(value));
}

void CKrillParser::SplitText(std::string text, std::string separator, std::vector<std::string>* out) {
  if (!out) return;
  // Without a separator there is nothing to split at.
  if (!separator.empty()) {
    for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator)) {
      out->push_back(text.substr(0, at));
      text.erase(0, at + 1);
    }
  }
  if (!text.empty()) out->push_back(std::move(text));
}

std::string CKrillParser::TextBetween(std::string text, std::string start, std::string end) {
  const std::size_t from = text.find(start);
  if (from == std::string::npos) return {};
  const std::size_t to = text.find(end, from);
  const std::size_t after_start = from + start.size();
  if (to == std::string::npos || to < after_start) return {};
  return text.substr(after_start, to - after_start);
}

void CKrillParser::Release() { delete this; }

}  // namespace IGlobalTools
