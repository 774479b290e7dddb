#include "platform/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/known_folders.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

using txl_test::ScopedEnv;
using txl_test::TempFolder;

class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(dir_.path() / "a.ini", std::ios::binary) << text; }
  std::u16string File() const { return dir_.Wide("a.ini"); }
  TempFolder dir_;
};

TEST_F(ProfileTest, IntegerFallsBackOnlyWhenFileSectionOrKeyIsMissing) {
  EXPECT_EQ(plat::ReadProfileInt(File(), u"S", u"K", -1), -1) << "no file";
  Write("[S]\nK=7\nE=\nW=x12\n[T]\nN=-3\n");
  struct Case {
    const char16_t* section;
    const char16_t* key;
    int expected;
  };
  const Case cases[] = {
      {u"S", u"K", 7}, {u"s", u"k", 7}, {u"S", u"E", 0}, {u"S", u"W", 0}, {u"T", u"N", -3},
      {u"S", u"N", -1}, {u"U", u"K", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(plat::ReadProfileInt(File(), c.section, c.key, -1), c.expected)
        << plat::Utf16ToUtf8(c.section) << "/" << plat::Utf16ToUtf8(c.key);
}

TEST_F(ProfileTest, EveryReadSeesTheFileAsItIsNow) {
  Write("[S]\nK=1\n");
  EXPECT_EQ(plat::ReadProfileInt(File(), u"S", u"K", -1), 1);
  Write("[S]\nK=2\n");
  EXPECT_EQ(plat::ReadProfileInt(File(), u"S", u"K", -1), 2);
  std::filesystem::remove(dir_.path() / "a.ini");
  EXPECT_EQ(plat::ReadProfileInt(File(), u"S", u"K", -1), -1);
}

TEST_F(ProfileTest, TextIsCutToTheBufferTheCallerGives) {
  Write("[S]\nK=abcdef\n");
  EXPECT_EQ(plat::ReadProfileString(File(), u"S", u"K", u"dflt", 10), u"abcdef");
  EXPECT_EQ(plat::ReadProfileString(File(), u"S", u"K", u"dflt", 4), u"abcd");
  EXPECT_EQ(plat::ReadProfileString(File(), u"S", u"X", u"dflt", 10), u"dflt");
  EXPECT_EQ(plat::ReadProfileString(File(), u"S", u"X", u"dflt", 2), u"df");
}

TEST(KnownFolders, CommonAppDataIsTheNotebooksProgramDataMadeOnFirstUse) {
  TempFolder machine;
  ScopedEnv env("TXL_MACHINE_DIR", machine.path().string().c_str());
  const std::u16string folder = plat::CommonAppDataFolder();
  EXPECT_EQ(folder, plat::Utf8ToUtf16((machine.path() / "ProgramData").string()));
  EXPECT_TRUE(std::filesystem::is_directory(machine.path() / "ProgramData"));
}

}  // namespace
