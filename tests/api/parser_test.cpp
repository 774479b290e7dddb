// The AT reply parser, table by table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/support/parser/krill_parser.h"

namespace {

using IGlobalTools::CKrillParser;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST(KrillParser, ParseReplyTakesALengthPrefixOnlyWhenItFits) {
  struct Case {
    const char* why;
    std::string reply;
    std::string expected;
  };
  const Case cases[] = {
      {"prefix 5 of 13 bytes", Bytes({5, 0, 0, 0}) + "hello OK" + '\0', "hello"},
      {"first word larger than the length: the bytes unchanged", "AT\r\n", "AT\r\n"},
      {"prefix equal to the length is no prefix", Bytes({6, 0, 0, 0, 'o', 'k'}), Bytes({6, 0, 0, 0, 'o', 'k'})},
      {"prefix 0", Bytes({0, 0, 0, 0, 'x'}), ""},
      {"prefix beyond the bytes after it takes what is there", Bytes({5, 0, 0, 0, 'o', 'k'}), "ok"},
      {"shorter than a prefix", "OK", "OK"},
      {"little-endian across all four bytes", Bytes({1, 1, 0, 0}) + std::string(300, 'a'), std::string(257, 'a')},
      {"a count in the last byte is beyond any reply", Bytes({1, 0, 0, 1, 'x', 'y'}), Bytes({1, 0, 0, 1, 'x', 'y'})},
      {"exactly a prefix: nothing after it to take", Bytes({2, 0, 0, 0}), ""},
  };
  for (const auto& c : cases) {
    CKrillParser parser;
    std::string out = "kept:";
    parser.ParseReply(reinterpret_cast<const std::uint8_t*>(c.reply.data()), c.reply.size(), &out);
    EXPECT_EQ(out, "kept:" + c.expected) << c.why;
  }
}

TEST(KrillParser, CharacterFiltersAndHexValues) {
  CKrillParser parser;
  EXPECT_EQ(parser.KeepChars("+CSQ: 20,99\r\n", "0123456789,"), "20,99");
  EXPECT_EQ(parser.RemoveChars("\r\nOK\r\n", "\r\n"), "OK");
  EXPECT_EQ(parser.KeepChars("abc", ""), "");

  const std::pair<const char*, const char*> hex[] = {
      {"0x1A", "26"}, {"0x1a", "26"},     {"1A", "0"},          {"0x", "0"},
      {"", "0"},      {"0XFFFFFFFF", "-1"}, {"0x7FFFFFFF", "2147483647"},
      {"0x100000001", "1"},  // wraps at 32 bits
      {"0xG", "16"},         // no character is rejected
  };
  for (const auto& [text, value] : hex) EXPECT_EQ(parser.HexToDecimal(text), value) << text;
}

TEST(KrillParser, SplitAndTextBetween) {
  struct Split {
    const char* text;
    const char* separator;
    std::vector<std::string> parts;
  };
  const Split splits[] = {
      {"a,,b", ",", {"a", "", "b"}},
      {"a,", ",", {"a"}},
      {",a", ",", {"", "a"}},
      {"", ",", {}},
      {"a::b", "::", {"a", ":b"}},  // the separator's second character begins the next part
      {"a\r\nb\r\n", "\r\n", {"a", "\nb", "\n"}},
      {"ab", "", {"ab"}},
  };
  CKrillParser parser;
  for (const auto& s : splits) {
    std::vector<std::string> parts = {"kept"};
    parser.SplitText(s.text, s.separator, &parts);
    std::vector<std::string> expected = {"kept"};
    expected.insert(expected.end(), s.parts.begin(), s.parts.end());
    EXPECT_EQ(parts, expected) << s.text << " by " << s.separator;
  }

  EXPECT_EQ(parser.TextBetween("+CSQ: 20,99", "+CSQ: ", ","), "20");
  EXPECT_EQ(parser.TextBetween("+CSQ: 20,99", "+CSQ: ", ":"), "") << "end found inside the start marker";
  EXPECT_EQ(parser.TextBetween("+CSQ: 20,99", "+CREG: ", ","), "");
  EXPECT_EQ(parser.TextBetween("+CSQ: 20,99", "+CSQ: ", ";"), "");
  EXPECT_EQ(parser.TextBetween("x[]y", "[", "]"), "");
  EXPECT_EQ(parser.TextBetween("<a><b>", "<", ">"), "a");
}

}  // namespace
