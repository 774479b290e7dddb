#include "platform/registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/common/registry_file.h"
#include "platform/process.h"
#include "test_support.h"

namespace {

using plat::DWORD;
using plat::LONG;
using plat::RegistryHive;
using plat::RegistryKey;

// The codes are DWORDs, the results LONGs, as on Windows.
constexpr LONG Code(DWORD c) { return static_cast<LONG>(c); }

#if !defined(_WIN32)
// These run against the simulated notebook's file; on Windows they would write the real registry.

constexpr char16_t kSarKey[] = u"SOFTWARE\\OEM\\Corvid\\SAR";

class RegistryTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return tmp_.path() / "registry.reg"; }
  std::string ReadFile() const {
    std::ifstream in(File(), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteFile(const std::string& text) const { std::ofstream(File(), std::ios::binary) << text; }

  std::unique_ptr<RegistryKey> Create(const std::u16string& path) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(plat::CreateRegistryKey(RegistryHive::kLocalMachine, path, &key), Code(plat::ERROR_SUCCESS));
    return key;
  }
  LONG Open(const std::u16string& path, std::unique_ptr<RegistryKey>* key) {
    return plat::OpenRegistryKey(RegistryHive::kLocalMachine, path, key);
  }

  txl_test::TempFolder tmp_;
  txl_test::ScopedEnv env_{"TXL_MACHINE_DIR", tmp_.path().string().c_str()};
};

TEST_F(RegistryTest, WritesTheExportOutsideToolsRead) {
  auto sar = Create(kSarKey);
  ASSERT_TRUE(sar);
  EXPECT_EQ(sar->SetDword(u"Body_Sar_ON", 1), 0);
  EXPECT_EQ(sar->SetDword(u"Body_Sar_Profile", 0xA0B1C2D3u), 0);
  auto txl = Create(u"SOFTWARE\\TXL");
  EXPECT_EQ(txl->SetString(u"TXLGuardVersion", u"C:\\Tools \"q\" \u00e9"), 0);
  EXPECT_EQ(txl->SetString(u"ImagePath", u"%SystemRoot%\\x.exe", plat::REG_EXPAND_SZ), 0);
  EXPECT_EQ(txl->SetString(u"", u"default"), 0);
  auto cu = std::unique_ptr<RegistryKey>();
  ASSERT_EQ(plat::CreateRegistryKey(RegistryHive::kCurrentUser, u"Software", &cu), 0);

  EXPECT_EQ(ReadFile(),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR]\r\n"
            "\"Body_Sar_ON\"=dword:00000001\r\n"
            "\"Body_Sar_Profile\"=dword:a0b1c2d3\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TXL]\r\n"
            "\"TXLGuardVersion\"=\"C:\\\\Tools \\\"q\\\" \xC3\xA9\"\r\n"
            "\"ImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,\\\r\n"
            "  00,74,00,25,00,5c,00,78,00,2e,00,65,00,78,00,65,00,00,00\r\n"
            "@=\"default\"\r\n"
            "\r\n");
}

TEST_F(RegistryTest, ValuesRoundTrip) {
  auto key = Create(kSarKey);
  const DWORD dwords[] = {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu};
  for (DWORD d : dwords) {
    ASSERT_EQ(key->SetDword(u"Body_Sar_Profile", d), 0);
    DWORD got = 12345;
    ASSERT_EQ(key->QueryDword(u"Body_Sar_Profile", &got), 0);
    EXPECT_EQ(got, d);
  }
  const std::u16string texts[] = {u"", u"plain", u"C:\\Program Files\\", u"say \"hi\"", u"\\\"\\\\\"",
                                  u"tab\there", u"\u00e9\u00df\u4e2d", u"\U0001F600 smile", u"x=\"y\";[z]"};
  for (const auto& text : texts) {
    for (DWORD type : {plat::REG_SZ, plat::REG_EXPAND_SZ}) {
      ASSERT_EQ(key->SetString(u"TixelUtilityVersion", text, type), 0);
      std::u16string got = u"unchanged";
      DWORD got_type = 0;
      ASSERT_EQ(key->QueryString(u"TixelUtilityVersion", &got, &got_type), 0);
      EXPECT_EQ(got, text);
      EXPECT_EQ(got_type, type);
    }
  }
  EXPECT_TRUE(plat::regfile::Parse(ReadFile()).problems().empty());
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  auto key = Create(kSarKey);
  ASSERT_EQ(key->SetDword(u"Body_Sar_ON", 1), 0);
  ASSERT_EQ(key->SetDword(u"BODY_SAR_on", 2), 0);
  ASSERT_EQ(key->SetDword(u"\u043a\u043b\u044e\u0447", 3), 0);  // Cyrillic, lower case

  std::unique_ptr<RegistryKey> again;
  ASSERT_EQ(Open(u"software\\oem\\CORVID\\sar", &again), 0);
  DWORD v = 0;
  ASSERT_EQ(again->QueryDword(u"body_sar_on", &v), 0);
  EXPECT_EQ(v, 2u);
  ASSERT_EQ(again->QueryDword(u"\u041a\u041b\u042e\u0427", &v), 0);
  EXPECT_EQ(v, 3u);
  // A new level under an existing one joins it rather than making a twin.
  Create(u"software\\OEM\\corvid\\Other");

  const std::string text = ReadFile();
  EXPECT_NE(text.find("\"Body_Sar_ON\"=dword:00000002"), std::string::npos) << text;
  EXPECT_EQ(text.find("BODY_SAR_on"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\Other]"), std::string::npos) << text;
  EXPECT_EQ(text.find("software"), std::string::npos) << text;
}

TEST_F(RegistryTest, AnAbsentKeyAndAnAbsentValueAreToldApart) {
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(Open(kSarKey, &key), Code(plat::ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(key);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(File())) << "opening creates nothing";

  key = Create(kSarKey);
  DWORD v = 42;
  EXPECT_EQ(key->QueryDword(u"Body_Sar_ON", &v), Code(plat::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(v, 42u);
  EXPECT_EQ(key->DeleteValue(u"Body_Sar_ON"), Code(plat::ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(key->SetDword(u"Body_Sar_ON", 1), 0);
  EXPECT_EQ(key->DeleteValue(u"body_sar_on"), 0);
  EXPECT_EQ(key->QueryDword(u"Body_Sar_ON", &v), Code(plat::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open(kSarKey, &key), 0) << "a key without values still exists";
}

TEST_F(RegistryTest, AValueOfAnotherTypeOrSizeLeavesTheDefault) {
  WriteFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR]\n"
      "\"text\"=\"1\"\n"
      "\"short\"=hex(4):01,00\n"
      "\"long\"=hex(4):01,00,00,00,00,00,00,00\n"
      "\"big_endian\"=hex(5):00,00,00,01\n"
      "\"binary\"=hex:01,00,00,00\n"
      "\"dword\"=dword:00000001\n"
      "\"odd\"=hex(1):61,00,62\n"
      "\"multi\"=hex(7):61,00,00,00,00,00\n");
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(Open(kSarKey, &key), 0);
  const struct {
    const char16_t* name;
    DWORD dword_result;
    DWORD string_result;
  } cases[] = {
      {u"text", plat::ERROR_UNSUPPORTED_TYPE, plat::ERROR_SUCCESS},
      {u"short", plat::ERROR_INVALID_DATA, plat::ERROR_UNSUPPORTED_TYPE},
      {u"long", plat::ERROR_MORE_DATA, plat::ERROR_UNSUPPORTED_TYPE},
      {u"big_endian", plat::ERROR_UNSUPPORTED_TYPE, plat::ERROR_UNSUPPORTED_TYPE},
      {u"binary", plat::ERROR_UNSUPPORTED_TYPE, plat::ERROR_UNSUPPORTED_TYPE},
      {u"dword", plat::ERROR_SUCCESS, plat::ERROR_UNSUPPORTED_TYPE},
      {u"odd", plat::ERROR_UNSUPPORTED_TYPE, plat::ERROR_INVALID_DATA},
      {u"multi", plat::ERROR_UNSUPPORTED_TYPE, plat::ERROR_UNSUPPORTED_TYPE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(plat::Utf16ToUtf8(c.name));
    DWORD v = 77;
    EXPECT_EQ(key->QueryDword(c.name, &v), Code(c.dword_result));
    EXPECT_EQ(v, c.dword_result == plat::ERROR_SUCCESS ? 1u : 77u);
    std::u16string s = u"default";
    EXPECT_EQ(key->QueryString(c.name, &s), Code(c.string_result));
    EXPECT_EQ(s, c.string_result == plat::ERROR_SUCCESS ? u"1" : u"default");
  }
}

TEST_F(RegistryTest, CreatingANestedKeyCreatesEveryLevel) {
  Create(u"A\\B\\C");
  Create(u"A\\B\\D");
  Create(u"A\\B\\");  // exists already; the trailing separator is tolerated
  const struct {
    const char16_t* path;
    DWORD subkeys;
  } levels[] = {{u"A", 1}, {u"A\\B", 2}, {u"A\\B\\C", 0}, {u"A\\B\\D", 0}};
  for (const auto& level : levels) {
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(Open(level.path, &key), 0) << plat::Utf16ToUtf8(level.path);
    DWORD n = 99;
    ASSERT_EQ(key->CountSubkeys(&n), 0);
    EXPECT_EQ(n, level.subkeys) << plat::Utf16ToUtf8(level.path);
  }
  std::unique_ptr<RegistryKey> hive;
  ASSERT_EQ(Open(u"", &hive), 0);
  DWORD n = 0;
  ASSERT_EQ(hive->CountSubkeys(&n), 0);
  EXPECT_EQ(n, 1u);
  for (const char16_t* bad : {u"\\A", u"A\\\\B", u"A\\B\\\\", u"A\nB"}) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(plat::CreateRegistryKey(RegistryHive::kLocalMachine, bad, &key), Code(plat::ERROR_INVALID_PARAMETER));
  }
}

TEST_F(RegistryTest, DeletingIsRefusedWhileSubkeysRemain) {
  Create(u"SOFTWARE\\TXL\\Child");
  auto txl = Create(u"SOFTWARE\\TXL");
  ASSERT_EQ(txl->SetString(u"ImagePath", u"C:\\x.exe"), 0);
  const std::string before = ReadFile();
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kLocalMachine, u"SOFTWARE\\TXL"), Code(plat::ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(), before);

  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kLocalMachine, u"software\\txl\\child"), 0);
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kLocalMachine, u"SOFTWARE\\TXL\\Child"),
            Code(plat::ERROR_FILE_NOT_FOUND));
  DWORD n = 9;
  ASSERT_EQ(txl->CountSubkeys(&n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kLocalMachine, u"SOFTWARE\\TXL"), 0);
  EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kLocalMachine, u""), Code(plat::ERROR_ACCESS_DENIED));

  // The handle outlived its key: it neither reads nor brings the key back.
  std::u16string s;
  EXPECT_EQ(txl->QueryString(u"ImagePath", &s), Code(plat::ERROR_KEY_DELETED));
  EXPECT_EQ(txl->SetDword(u"x", 1), Code(plat::ERROR_KEY_DELETED));
  EXPECT_EQ(txl->CountSubkeys(&n), Code(plat::ERROR_KEY_DELETED));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_KEY_DELETED);
  std::unique_ptr<RegistryKey> gone;
  EXPECT_EQ(Open(u"SOFTWARE\\TXL", &gone), Code(plat::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open(u"SOFTWARE", &gone), 0) << "the parent stays";
}

TEST_F(RegistryTest, AHandleSeesWhatOthersWrote) {
  auto writer = Create(kSarKey);
  std::unique_ptr<RegistryKey> reader;
  ASSERT_EQ(Open(kSarKey, &reader), 0);
  ASSERT_EQ(writer->SetDword(u"Body_Sar_ON", 5), 0);
  DWORD v = 0;
  ASSERT_EQ(reader->QueryDword(u"Body_Sar_ON", &v), 0);
  EXPECT_EQ(v, 5u);
  // An editor that rewrites the file in place, to the same size, within the same clock tick: what
  // this process read before must not be served again.
  for (const char* digit : {"7", "8"}) {
    std::string text = ReadFile();
    const auto at = text.find("dword:00000005");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at + 13, 1, digit);
    WriteFile(text);
    ASSERT_EQ(reader->QueryDword(u"Body_Sar_ON", &v), 0);
    EXPECT_EQ(v, static_cast<DWORD>(std::stoul(digit)));
    text.replace(at + 13, 1, "5");
    WriteFile(text);
  }
}

TEST_F(RegistryTest, AMalformedFileIsNeverOverwritten) {
  const struct {
    const char* what;
    std::string text;
    bool key_readable;
  } files[] = {
      {"a line that is no value",
       "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR]\r\n"
       "\"Body_Sar_ON\"=dword:00000001\r\ngarbage\r\n",
       true},
      {"an escape the export never writes",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR]\n"
       "\"Body_Sar_ON\"=dword:00000001\n\"Note\"=\"a\\nb\"\n",
       true},
      {"no header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Corvid\\SAR]\n\"Body_Sar_ON\"=dword:00000001\n", false},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.what);
    WriteFile(file.text);
    std::unique_ptr<RegistryKey> key;
    if (file.key_readable) {
      ASSERT_EQ(Open(kSarKey, &key), 0);
      DWORD v = 0;  // what could be read, reads
      EXPECT_EQ(key->QueryDword(u"Body_Sar_ON", &v), 0);
      EXPECT_EQ(v, 1u);
      std::u16string note;
      EXPECT_EQ(key->QueryString(u"Note", &note), Code(plat::ERROR_FILE_NOT_FOUND));
      EXPECT_EQ(key->SetDword(u"Body_Sar_ON", 0), Code(plat::ERROR_BADDB));
      EXPECT_EQ(plat::GetLastError(), plat::ERROR_BADDB);
      EXPECT_EQ(key->DeleteValue(u"Body_Sar_ON"), Code(plat::ERROR_BADDB));
    } else {
      EXPECT_EQ(Open(kSarKey, &key), Code(plat::ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(plat::CreateRegistryKey(RegistryHive::kLocalMachine, u"SOFTWARE\\TXL", &key), Code(plat::ERROR_BADDB));
    EXPECT_EQ(plat::DeleteRegistryKey(RegistryHive::kLocalMachine, kSarKey), Code(plat::ERROR_BADDB));
    EXPECT_EQ(ReadFile(), file.text);
  }
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kValues = 15;
  Create(kSarKey);
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    children[p] = ::fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      // Each writer has its own handles and its own names; any lost update shows as a missing one.
      int failures = 0;
      const std::u16string own = u"Writer" + plat::Utf8ToUtf16(std::to_string(p));
      std::unique_ptr<RegistryKey> sub;
      failures += plat::CreateRegistryKey(RegistryHive::kLocalMachine, std::u16string(kSarKey) + u"\\" + own, &sub) != 0;
      for (int i = 0; i < kValues; ++i) {
        std::unique_ptr<RegistryKey> key;
        failures += plat::OpenRegistryKey(RegistryHive::kLocalMachine, kSarKey, &key) != 0;
        if (key) failures += key->SetDword(own + u"_" + plat::Utf8ToUtf16(std::to_string(i)), DWORD(p * 100 + i)) != 0;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(Open(kSarKey, &key), 0);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kValues; ++i) {
      const std::u16string name = u"Writer" + plat::Utf8ToUtf16(std::to_string(p) + "_" + std::to_string(i));
      DWORD v = 0;
      EXPECT_EQ(key->QueryDword(name, &v), 0) << plat::Utf16ToUtf8(name);
      EXPECT_EQ(v, DWORD(p * 100 + i));
    }
  }
  DWORD n = 0;
  ASSERT_EQ(key->CountSubkeys(&n), 0);
  EXPECT_EQ(n, DWORD{kProcesses});
  EXPECT_FALSE(std::filesystem::exists(File().string() + ".tmp"));
}

#endif  // !_WIN32

// The text itself, without the file.

struct ParseCase {
  const char* what;
  std::string text;
  const char16_t* key;    // the key to look in
  const char16_t* value;  // null: only the key's presence is checked
  bool present;
  DWORD type;
  std::vector<plat::BYTE> data;
  bool clean;  // no problem recorded
};

TEST(RegistryText, ParsesWhatTheExportWritesAndNothingElse) {
  const std::string h = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string k = "[HKEY_LOCAL_MACHINE\\S]\r\n";
  using V = std::vector<plat::BYTE>;
  const ParseCase cases[] = {
      {"dword", h + k + "\"v\"=dword:0000000a\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", true, plat::REG_DWORD, V{10, 0, 0, 0}, true},
      {"LF only", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\S]\n\"v\"=dword:1\n",
       u"HKEY_LOCAL_MACHINE\\S", u"v", true, plat::REG_DWORD, V{1, 0, 0, 0}, true},
      {"UTF-8 mark", "\xEF\xBB\xBF" + h + k + "@=\"a\"\r\n", u"HKEY_LOCAL_MACHINE\\s", u"", true, plat::REG_SZ,
       V{'a', 0, 0, 0}, true},
      {"escapes", h + k + "\"q\\\"\\\\\"=\"\\\\\\\"\"\r\n", u"HKEY_LOCAL_MACHINE\\S", u"q\"\\", true, plat::REG_SZ,
       V{'\\', 0, '"', 0, 0, 0}, true},
      {"continued hex", h + k + "\"b\"=hex:01,02,\\\r\n  03\r\n", u"HKEY_LOCAL_MACHINE\\S", u"b", true, plat::REG_BINARY,
       V{1, 2, 3}, true},
      {"empty hex", h + k + "\"b\"=hex(0):\r\n", u"HKEY_LOCAL_MACHINE\\S", u"b", true, plat::REG_NONE, V{}, true},
      {"later line wins", h + k + "\"v\"=dword:1\r\n\"V\"=dword:2\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", true,
       plat::REG_DWORD, V{2, 0, 0, 0}, true},
      {"implied parent", h + "[HKEY_LOCAL_MACHINE\\A\\B]\r\n", u"HKEY_LOCAL_MACHINE\\A", nullptr, true, 0, V{}, true},
      {"comment", h + "; note\r\n" + k, u"HKEY_LOCAL_MACHINE\\S", nullptr, true, 0, V{}, true},
      {"nine digits", h + k + "\"v\"=dword:000000001\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", false, 0, V{}, false},
      {"unknown escape", h + k + "\"v\"=\"a\\tb\"\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", false, 0, V{}, false},
      {"open quote", h + k + "\"v\"=\"ab\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", false, 0, V{}, false},
      {"text after quote", h + k + "\"v\"=\"a\"b\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", false, 0, V{}, false},
      {"bad byte", h + k + "\"v\"=hex:1g\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", false, 0, V{}, false},
      {"broken UTF-8", h + k + "\"v\"=\"\xC3\"\r\n", u"HKEY_LOCAL_MACHINE\\S", u"v", false, 0, V{}, false},
      {"value before a key", h + "\"v\"=dword:1\r\n" + k, u"HKEY_LOCAL_MACHINE\\S", nullptr, true, 0, V{}, false},
      {"deletion line", h + "[-HKEY_LOCAL_MACHINE\\S]\r\n", u"HKEY_LOCAL_MACHINE\\S", nullptr, false, 0, V{}, false},
      {"values of a bad key", h + "[HKEY_NOWHERE\\S]\r\n\"v\"=dword:1\r\n", u"HKEY_NOWHERE\\S", nullptr, false, 0, V{},
       false},
      {"empty level", h + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", u"HKEY_LOCAL_MACHINE\\A", nullptr, false, 0, V{}, false},
      {"old header", "REGEDIT4\r\n\r\n" + k, u"HKEY_LOCAL_MACHINE\\S", nullptr, false, 0, V{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto doc = plat::regfile::Parse(c.text);
    EXPECT_EQ(doc.problems().empty(), c.clean);
    const auto* key = doc.Find(c.key);
    if (!c.value) {
      EXPECT_EQ(key != nullptr, c.present);
      continue;
    }
    ASSERT_TRUE(key);
    const auto* v = key->FindValue(c.value);
    ASSERT_EQ(v != nullptr, c.present);
    if (!v) continue;
    EXPECT_EQ(v->type, c.type);
    EXPECT_EQ(v->data, c.data);
  }
}

TEST(RegistryText, EveryValueSurvivesFormatAndParse) {
  plat::regfile::Document doc;
  auto& key = doc.Ensure(u"HKEY_CURRENT_USER\\Software\\]odd[ name");
  using V = std::vector<plat::BYTE>;
  key.SetValue(u"", plat::REG_SZ, V{'x', 0, 0, 0});
  key.SetValue(u"two lines", plat::REG_SZ, V{'a', 0, '\n', 0, 'b', 0, 0, 0});
  key.SetValue(u"no end", plat::REG_SZ, V{'a', 0});
  key.SetValue(u"lone surrogate", plat::REG_SZ, V{0x00, 0xD8, 0, 0});
  key.SetValue(u"multi", 7, V{'a', 0, 0, 0, 0, 0});
  key.SetValue(u"short dword", plat::REG_DWORD, V{1});
  key.SetValue(u"big", plat::REG_BINARY, V(100, 0xAB));
  key.SetValue(u"type 0x20000", 0x20000, V{1, 2});
  const std::string text = plat::regfile::Format(doc);
  const auto back = plat::regfile::Parse(text);
  ASSERT_TRUE(back.problems().empty()) << text;
  ASSERT_EQ(back.keys().size(), 2u) << text;  // Software comes in as the parent
  const auto* again = back.Find(u"HKEY_CURRENT_USER\\Software\\]odd[ name");
  ASSERT_TRUE(again) << text;
  ASSERT_EQ(again->values.size(), key.values.size());
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    SCOPED_TRACE(plat::Utf16ToUtf8(key.values[i].name));
    EXPECT_EQ(again->values[i].name, key.values[i].name);
    EXPECT_EQ(again->values[i].type, key.values[i].type);
    EXPECT_EQ(again->values[i].data, key.values[i].data);
  }
  EXPECT_EQ(plat::regfile::Format(back), text);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 81u) << line;
}

}  // namespace
