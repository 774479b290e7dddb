#include "platform/ini.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"

namespace {

using plat::IniFile;

TEST(Ini, SectionsAndKeysIgnoreCaseAndTheFirstOccurrenceWins) {
  const IniFile ini = IniFile::Parse(
      "[Power]\n"
      "Level = 3\n"
      "LEVEL = 9\n"
      "[other]\n"
      "name=x\n"
      "[POWER]\n"
      "level=12\n"
      "Extra=yes\n");
  EXPECT_EQ(ini.Get("power", "level"), "3");
  EXPECT_EQ(ini.Get("POWER", "Level"), "3");
  // A repeated section header continues the first section.
  EXPECT_EQ(ini.Get("Power", "extra"), "yes");
  EXPECT_EQ(ini.Keys("power"), (std::vector<std::string>{"Level", "LEVEL", "level", "Extra"}));
  EXPECT_TRUE(ini.HasSection("OTHER"));
  EXPECT_FALSE(ini.HasSection("missing"));
  EXPECT_EQ(ini.Get("other", "level"), std::nullopt) << "keys belong to their section";
  EXPECT_EQ(ini.Get("missing", "name"), std::nullopt);
  EXPECT_TRUE(ini.Keys("missing").empty());
  EXPECT_TRUE(ini.problems().empty());
}

TEST(Ini, ValuesAreTrimmedOfBlanksAndOneQuotePair) {
  const IniFile ini = IniFile::Parse(
      "\xEF\xBB\xBF[s]\r\n"
      "plain =  spaced value \t\r\n"
      "double = \"  quoted  \"\r\n"
      "single = 'x'\r\n"
      "nested = \"'both'\"\r\n"
      "lone = \"unbalanced\r\n"
      "empty =\r\n"
      "eq = a=b\r\n"
      "  indented = 1\r\n");
  EXPECT_EQ(ini.Get("s", "plain"), "spaced value");
  EXPECT_EQ(ini.Get("s", "double"), "  quoted  ");
  EXPECT_EQ(ini.Get("s", "single"), "x");
  EXPECT_EQ(ini.Get("s", "nested"), "'both'");
  EXPECT_EQ(ini.Get("s", "lone"), "\"unbalanced");
  EXPECT_EQ(ini.Get("s", "empty"), "");
  EXPECT_EQ(ini.Get("s", "eq"), "a=b");
  EXPECT_EQ(ini.Get("s", "indented"), "1");
  EXPECT_TRUE(ini.HasSection("s")) << "a byte-order mark is not part of the first section name";
  EXPECT_EQ(ini.GetString("s", "absent", "fallback"), "fallback");
  EXPECT_EQ(ini.GetString("s", "single", "fallback"), "x");
}

TEST(Ini, UnreadableLinesAreReportedNotFatal) {
  const IniFile ini = IniFile::Parse(
      "orphan=1\n"
      "; comment\n"
      "# comment\n"
      "\n"
      "[ok]\n"
      "no equals sign\n"
      "[broken\n"
      "after=2\n"
      "[ok]\n"
      "key=3\n");
  ASSERT_EQ(ini.problems().size(), 4u);
  EXPECT_EQ(ini.problems()[0], "1: orphan=1");
  EXPECT_EQ(ini.problems()[1], "6: no equals sign");
  EXPECT_EQ(ini.problems()[2], "7: [broken");
  EXPECT_EQ(ini.problems()[3], "8: after=2") << "a key after a broken header belongs to no section";
  EXPECT_EQ(ini.Get("ok", "key"), "3");
}

TEST(Ini, IntegersParseAsTheProfileApiParsesThem) {
  struct Case {
    const char* text;
    long value;
  };
  const Case cases[] = {
      {"12", 12},          {"12abc", 12},  {"abc", 0},      {"", 0},
      {"-5", -5},          {"+7", 7},      {"0x1F", 31},    {"0X1f", 31},
      {"0x", 0},           {"-0x10", -16}, {"  42", 42},    {"007", 7},
      {"4294967295", -1},  {"2147483648", -2147483648L},    {"0xFFFFFFFF", -1},
      {"1.9", 1},          {"- 3", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::ParseProfileInt(c.text), c.value) << '"' << c.text << '"';

  const IniFile ini = IniFile::Parse("[n]\na=12abc\nb=abc\nc=\"0x1F\"\n");
  EXPECT_EQ(ini.GetInt("n", "a", 99), 12);
  EXPECT_EQ(ini.GetInt("n", "b", 99), 0) << "present but not a number is 0, not the fallback";
  EXPECT_EQ(ini.GetInt("n", "c", 99), 31);
  EXPECT_EQ(ini.GetInt("n", "absent", 99), 99);
  EXPECT_EQ(ini.GetInt("absent", "a", -4), -4);
}

TEST(Ini, LoadReadsAFile) {
  txl_test::TempFolder tmp;
  const auto path = (tmp.path() / "modem.ini").string();
  std::ofstream(path, std::ios::binary) << "[modem]\nbands=3\n";
  const auto ini = IniFile::Load(path);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->GetInt("MODEM", "Bands", 0), 3);
  EXPECT_FALSE(IniFile::Load((tmp.path() / "absent.ini").string()));
}

}  // namespace
