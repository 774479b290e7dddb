// The registry backend against the system's registry: what the platform writes is what the
// operating system's own reader finds, and the other way round.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/os.h"

// From here on the Windows headers name the result codes (as macros of the same values).
namespace {

using plat::RegistryHive;

class SystemRegistryTest : public ::testing::Test {
 protected:
  // A key of this process only, under a parent that is removed afterwards.
  const std::u16string parent_ = u"SOFTWARE\\TXL-win-test-" + plat::Utf8ToUtf16(std::to_string(::GetCurrentProcessId()));
  const std::u16string key_ = parent_ + u"\\Values";

  void TearDown() override {
    for (const auto hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      ::RegDeleteTreeW(hive, plat::win32::W(parent_.c_str()));
  }
  static HKEY Root(RegistryHive hive) {
    return hive == RegistryHive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  }
};

TEST_F(SystemRegistryTest, ValuesWrittenHereAreTheSystemsAndBack) {
  for (const auto hive : {RegistryHive::kCurrentUser, RegistryHive::kLocalMachine}) {
    SCOPED_TRACE(hive == RegistryHive::kLocalMachine ? "HKLM" : "HKCU");
    std::unique_ptr<plat::RegistryKey> key;
    ASSERT_EQ(plat::CreateRegistryKey(hive, key_, &key), ERROR_SUCCESS);
    ASSERT_EQ(key->SetDword(u"Body_Sar_ON", 1), ERROR_SUCCESS);
    ASSERT_EQ(key->SetString(u"ImagePath", u"C:\\Windows\\SysWOW64\\TXLGuard.exe"), ERROR_SUCCESS);

    ::DWORD dword = 0, size = sizeof dword;
    ASSERT_EQ(::RegGetValueW(Root(hive), plat::win32::W(key_.c_str()), L"body_sar_on", RRF_RT_REG_DWORD, nullptr,
                             &dword, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(dword, 1u);
    wchar_t text[64] = {};
    size = sizeof text;
    ASSERT_EQ(::RegGetValueW(Root(hive), plat::win32::W(key_.c_str()), L"ImagePath", RRF_RT_REG_SZ, nullptr, text,
                             &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"C:\\Windows\\SysWOW64\\TXLGuard.exe");

    const ::DWORD profile = 2;
    ASSERT_EQ(::RegSetKeyValueW(Root(hive), plat::win32::W(key_.c_str()), L"Body_Sar_Profile", REG_DWORD, &profile,
                                sizeof profile),
              ERROR_SUCCESS);
    plat::DWORD read = 0;
    EXPECT_EQ(key->QueryDword(u"Body_Sar_Profile", &read), ERROR_SUCCESS);
    EXPECT_EQ(read, 2u);
  }
}

TEST_F(SystemRegistryTest, FailuresCarryTheSystemsCodes) {
  std::unique_ptr<plat::RegistryKey> key;
  EXPECT_EQ(plat::OpenRegistryKey(RegistryHive::kCurrentUser, key_, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key);
  ASSERT_EQ(plat::CreateRegistryKey(RegistryHive::kCurrentUser, key_, &key), ERROR_SUCCESS);

  plat::DWORD value = 42;
  EXPECT_EQ(key->QueryDword(u"absent", &value), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(key->SetString(u"text", u"1"), ERROR_SUCCESS);
  EXPECT_EQ(key->QueryDword(u"text", &value), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(value, 42u) << "a failed read leaves the caller's default";

  // A key with a sub-key stays; once empty of sub-keys it goes.
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kCurrentUser, parent_), ERROR_ACCESS_DENIED);
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kCurrentUser, key_), ERROR_SUCCESS);
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kCurrentUser, key_), ERROR_FILE_NOT_FOUND);
}

}  // namespace
