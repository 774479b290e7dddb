// What takes a second process on Windows: the named mutex between processes and the crash record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <chrono>
#include <string>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/os.h"
#include "win_child.h"

// From here on the Windows headers name the result codes (as macros of the same values).
namespace {

using txl_win_test::Child;

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Polls for a condition, at most 30 s: the child's progress shows in a file.
template <class F>
bool Eventually(F done) {
  for (int i = 0; i < 3000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

class WinProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("txl-win-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::filesystem::path folder_;
  const std::wstring mutex_name_ =
      L"Global\\TxlWinTest" + std::to_wstring(::GetCurrentProcessId()) + L"MutexLock";
};

TEST_F(WinProcessTest, AnotherProcessWaitsForTheMutexUntilTheOwnerReleases) {
  const auto marker = folder_ / "marker.txt";
  auto mine = plat::OpenNamedMutex(plat::win32::U(mutex_name_.c_str()));
  ASSERT_TRUE(mine);
  ASSERT_EQ(mine->Wait(), WAIT_OBJECT_0);

  Child child({L"take", mutex_name_, marker.wstring()});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(Eventually([&] { return ReadText(marker) == "ready\n"; })) << ReadText(marker);
  // The child stands at the mutex: it must neither get in nor end while this process holds it.
  EXPECT_FALSE(child.EndsWithin(300));
  EXPECT_EQ(ReadText(marker), "ready\n");

  ASSERT_TRUE(mine->Release());
  EXPECT_EQ(child.ExitCode(), 0u);
  EXPECT_EQ(ReadText(marker), "ready\nin\n");
  EXPECT_EQ(mine->Wait(), WAIT_OBJECT_0) << "the child gave it back";
  EXPECT_TRUE(mine->Release());
}

TEST_F(WinProcessTest, AHolderThatEndsGivesTheMutexUp) {
  Child child({L"take-and-die", mutex_name_});
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.ExitCode(), 7u);
  auto mine = plat::OpenNamedMutex(plat::win32::U(mutex_name_.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->Wait(), WAIT_OBJECT_0);
  EXPECT_TRUE(mine->Release());
}

TEST_F(WinProcessTest, ACrashIsRecordedAsAMinidumpOnlyWhenNoneIsThere) {
  const auto dump = folder_ / "krillTXLApi.dump";
  Child first({L"fault", dump.wstring()});
  ASSERT_TRUE(first.started());
  EXPECT_EQ(first.ExitCode(), static_cast<::DWORD>(EXCEPTION_ACCESS_VIOLATION));
  const std::string record = ReadText(dump);
  ASSERT_GE(record.size(), 4u);
  EXPECT_EQ(record.substr(0, 4), "MDMP") << "a minidump";

  Child second({L"fault", dump.wstring()});
  ASSERT_TRUE(second.started());
  EXPECT_NE(second.ExitCode(), 0u);
  EXPECT_EQ(ReadText(dump), record) << "the first crash's record stays";
}

}  // namespace
