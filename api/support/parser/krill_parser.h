// Text operations on AT replies.
#pragma once

#include "api/support/global_tools.h"

namespace IGlobalTools {

class CKrillParser final : public IAtParser {
 public:
  // A reply that starts with a little-endian 32-bit count smaller than its length carries that
  // many bytes after the count; any other reply is taken whole.
  void ParseReply(const std::uint8_t* reply, std::size_t length, std::string* out) override;
  std::string KeepChars(std::string text, std::string allowed) override;
  std::string RemoveChars(std::string text, std::string removed) override;
  // "0x1A" → "26". Only text that starts with 0x (either case) has a value; every later character
  // counts as a digit (letters from A up, without any check), in 32-bit signed arithmetic.
  std::string HexToDecimal(std::string text) override;
  // Parts between occurrences of the separator, empty ones included, a trailing empty one not.
  // The text after a separator starts one character after its first one, so with a longer
  // separator its remaining characters begin the next part.
  void SplitText(std::string text, std::string separator, std::vector<std::string>* out) override;
  // The text after the first `start` and before `end`, searched for from where `start` begins;
  // empty when either is missing or `end` is found within `start`.
  std::string TextBetween(std::string text, std::string start, std::string end) override;
  void Release() override;
};

}  // namespace IGlobalTools
