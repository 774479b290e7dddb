// The notebook folder and where the Windows paths the suite names land in it (the posix backend's
// picture of the machine).
#include "platform/machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/known_folders.h"
#include "platform/posix/windows_path.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

class Notebook : public ::testing::Test {
 protected:
  const std::filesystem::path& dir() const { return folder_.path(); }

 private:
  txl_test::TempFolder folder_;
  txl_test::ScopedEnv machine_{"TXL_MACHINE_DIR", folder_.path().string().c_str()};
};

TEST_F(Notebook, MachineDirFollowsTheEnvironment) {
  EXPECT_EQ(dir(), plat::MachineDir());
  EXPECT_EQ(plat::Utf8ToUtf16((dir() / "ProgramData").string()), plat::CommonAppDataFolder());
  EXPECT_TRUE(std::filesystem::is_directory(dir() / "ProgramData"));  // created when asked for
  std::filesystem::path fallback;
  {
    txl_test::ScopedEnv no_machine("TXL_MACHINE_DIR", nullptr);
    txl_test::ScopedEnv state("XDG_STATE_HOME", (dir() / "state").string().c_str());
    fallback = plat::MachineDir();
  }
  EXPECT_EQ(dir() / "state" / "txl-machine", fallback);
  EXPECT_TRUE(std::filesystem::is_directory(fallback));  // created on first use
}

TEST_F(Notebook, WindowsPathsMapIntoTheNotebook) {
  struct Row {
    const char16_t* windows;
    std::filesystem::path expected;  // relative to the notebook; empty: no mapping
  };
  const Row rows[] = {
      {u"C:\\ProgramData\\Txl\\log.txt", "ProgramData/Txl/log.txt"},
      {u"c:/Windows/System32", "Windows/System32"},
      {u"C:\\A\\.\\B\\..\\C\\", "A/C"},
      {u"C:\\..\\..\\Escape", "Escape"},  // never above the drive
      {u"\\Rooted\\Path", "Rooted/Path"},
      {u"D:\\Data", "D_drive/Data"},
      {u"\\\\server\\share\\x", ""},
  };
  for (const Row& row : rows) {
    const auto mapped = plat::posix::MapWindowsPath(row.windows);
    if (row.expected.empty())
      EXPECT_TRUE(mapped.empty());
    else
      EXPECT_EQ(dir() / row.expected, mapped) << plat::Utf16ToUtf8(row.windows);
  }
}

}  // namespace
