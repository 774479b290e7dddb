#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using plat::Utf16ToUtf8;
using plat::Utf8ToUtf16;

struct TextPair {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf, ValidTextRoundTripsBothWays) {
  const std::vector<TextPair> cases = {
      {"empty", "", u""},
      {"ascii", "Modem 7", u"Modem 7"},
      {"two-byte", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
      {"four-byte becomes a surrogate pair", "\xF0\x9D\x84\x9E", u"\xD834\xDD1E"},
      {"highest code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
      {"embedded NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.name;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.name;
  }
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacters) {
  const std::vector<TextPair> cases = {
      {"lone continuation byte", "a\x80z", u"a\uFFFDz"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead byte", "\xFF" "A", u"\uFFFD" "A"},
      {"sequence cut by a plain byte", "\xE2\x82" "A", u"\uFFFD\uFFFD" "A"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.name;
}

TEST(Utf, SequenceCutAtTheEndOfTheViewIsNotCompletedFromBeyondIt) {
  const std::string euro = "\xE2\x82\xAC";
  const std::u16string decoded = Utf8ToUtf16(std::string_view(euro.data(), 2));
  EXPECT_EQ(decoded.find(u'\u20AC'), std::u16string::npos);
  ASSERT_FALSE(decoded.empty());
  for (char16_t c : decoded) EXPECT_EQ(c, u'\uFFFD');
}

TEST(Utf, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), replacement);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), replacement);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD800), u'A'}), replacement + "A");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00), char16_t(0xD800)}), replacement + replacement);
}

#if !defined(_WIN32)
TEST(Ansi, IsUtf8OnPosix) {
  const std::u16string text = u"C:\\Temp\\\u00E9\u20AC";
  EXPECT_EQ(plat::ToAnsi(text), Utf16ToUtf8(text));
  EXPECT_EQ(plat::FromAnsi(plat::ToAnsi(text)), text);
}
#endif

TEST(Ansi, EmptyAndAsciiTextConvert) {
  EXPECT_EQ(plat::ToAnsi(u""), "");
  EXPECT_EQ(plat::FromAnsi(""), u"");
  EXPECT_EQ(plat::ToAnsi(u"C:\\Temp\\Dll_log\\"), "C:\\Temp\\Dll_log\\");
  EXPECT_EQ(plat::FromAnsi("modem.ini"), u"modem.ini");
}

TEST(Text, WideLengthAndAsciiCaseFolding) {
  EXPECT_EQ(plat::WideLength(nullptr), 0u);
  EXPECT_EQ(plat::WideLength(u""), 0u);
  EXPECT_EQ(plat::WideLength(u"abc\u00E9"), 4u);

  EXPECT_EQ(plat::AsciiUpper(u'q'), u'Q');
  EXPECT_EQ(plat::AsciiLower(u'Q'), u'q');
  EXPECT_EQ(plat::AsciiUpper(u'{'), u'{');  // just past 'z'
  EXPECT_EQ(plat::AsciiLower(u'@'), u'@');  // just before 'A'
  EXPECT_EQ(plat::AsciiUpper(u'\u00E9'), u'\u00E9');

  EXPECT_TRUE(plat::EqualsIgnoreCaseAscii("Power Levels", "POWER levels"));
  EXPECT_FALSE(plat::EqualsIgnoreCaseAscii("level", "levels"));
  EXPECT_FALSE(plat::EqualsIgnoreCaseAscii("\xC3\xA9", "\xC3\x89"));  // not folded beyond ASCII
  EXPECT_FALSE(plat::EqualsIgnoreCaseAscii("a[", "A{"));
}

std::string FormatLimited(std::size_t max_chars, const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::string s = plat::FormatV(format, ap, max_chars);
  va_end(ap);
  return s;
}

TEST(Format, WideStringConversionsTakeUtf16) {
  EXPECT_EQ(plat::Format("[%ls]", u"modem"), "[modem]");
  EXPECT_EQ(plat::Format("[%S]", u"modem"), "[modem]");
  EXPECT_EQ(plat::Format("%ls", u"\u00E9\u20AC\xD834\xDD1E"), "\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E");
  EXPECT_EQ(plat::Format("[%6ls][%-6ls]", u"ab", u"cd"), "[    ab][cd    ]");
  EXPECT_EQ(plat::Format("%ls", static_cast<const char16_t*>(nullptr)), "(null)");
  // The arguments after a wide string are still taken in order.
  EXPECT_EQ(plat::Format("%s=%ls (%d)", "key", u"value", 3), "key=value (3)");
}

TEST(Format, OtherConversionsBehaveAsSnprintf) {
  EXPECT_EQ(plat::Format("%02X%02X", 0x0A, 0xFF), "0AFF");
  EXPECT_EQ(plat::Format("%03d|%-4d|%+d", 7, 5, 9), "007|5   |+9");
  EXPECT_EQ(plat::Format("%s %c", "txt", 'z'), "txt z");
  EXPECT_EQ(plat::Format("100%%"), "100%");
  EXPECT_EQ(plat::Format("%lu %llu %zu", 4000000000ul, 18000000000000000000ull, std::size_t{12}),
            "4000000000 18000000000000000000 12");
  // -2147483648l would be a long long where long has 32 bits.
  EXPECT_EQ(plat::Format("%ld %lld", -2147483647l - 1, -9000000000ll), "-2147483648 -9000000000");
  EXPECT_EQ(plat::Format("%08.3f", 3.14159), "0003.142");
  EXPECT_EQ(plat::Format("[%*d][%.*s]", 5, 42, 2, "abcdef"), "[   42][ab]");
  EXPECT_EQ(plat::Format("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(plat::Format("%y %d", 5), "%y 5");  // unknown conversion kept, takes no argument
  EXPECT_EQ(plat::Format("%200d", 1), std::string(199, ' ') + "1");
}

TEST(Format, OutputIsCutAtTheLimit) {
  EXPECT_EQ(FormatLimited(5, "%s", "abcdefgh"), "abcde");
  EXPECT_EQ(FormatLimited(3, "ab%ls", u"cdef"), "abc");
  EXPECT_EQ(FormatLimited(4, "abcdef"), "abcd");
  EXPECT_EQ(FormatLimited(0, "abc"), "");
  const std::string big(20000, 'x');
  EXPECT_EQ(plat::Format("%s", big.c_str()).size(), 16383u);
  EXPECT_EQ(plat::Format(nullptr), "");
}

}  // namespace
