#include "platform/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/dll.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

TEST(Process, HostExecutablePathNamesThisTestProgram) {
  const std::u16string path = plat::HostExecutablePath();
  ASSERT_FALSE(path.empty());
  const std::u16string folder = plat::FolderOf(path);
  ASSERT_LT(folder.size(), path.size());
  std::u16string name = path.substr(folder.size());
#if defined(_WIN32)
  EXPECT_EQ(name, u"platform_tests.exe");
#else
  EXPECT_EQ(name, u"platform_tests");
  EXPECT_EQ(path.front(), u'/') << "a full path";
#endif
  EXPECT_TRUE(plat::FolderAccessible(folder.substr(0, folder.size() - 1)));
}

TEST(Process, LastErrorBelongsToTheThread) {
  // The threads hand over through an atomic only: joining or any other system call could itself
  // change the last error that is being checked.
  std::atomic<int> step{0};
  std::thread other([&] {
    while (step.load() != 1) {
    }
    plat::SetLastError(plat::ERROR_FILE_NOT_FOUND);
    const plat::DWORD mine = plat::GetLastError();
    step = 2;
    EXPECT_EQ(mine, plat::ERROR_FILE_NOT_FOUND);
  });
  plat::SetLastError(plat::ERROR_ACCESS_DENIED);
  step = 1;
  while (step.load() != 2) {
  }
  const plat::DWORD main_error = plat::GetLastError();
  other.join();
  EXPECT_EQ(main_error, plat::ERROR_ACCESS_DENIED);
}

TEST(Process, Ids) {
  EXPECT_NE(plat::CurrentProcessId(), 0u);
  const plat::DWORD main_thread = plat::CurrentThreadId();
  plat::DWORD other = main_thread;
  std::thread([&] { other = plat::CurrentThreadId(); }).join();
  EXPECT_NE(other, main_thread);
  EXPECT_EQ(plat::CurrentThreadId(), main_thread);
}

TEST(Process, EnvironmentSetReadAndRemove) {
  const char* name = "TXL_PLATFORM_TEST_VARIABLE";
  ASSERT_TRUE(plat::SetEnv(name, "first"));
  EXPECT_EQ(plat::GetEnv(name), "first");
  ASSERT_TRUE(plat::SetEnv(name, "second value"));
  EXPECT_EQ(plat::GetEnv(name), "second value");
  // Paths of any language come back as they went in (UTF-8).
  const char* path = "C:\\Users\\Jos\xC3\xA9\\\xE2\x82\xAC\xE6\x97\xA5";
  ASSERT_TRUE(plat::SetEnv(name, path));
  EXPECT_EQ(plat::GetEnv(name), path);
  ASSERT_TRUE(plat::SetEnv(name, nullptr));
  EXPECT_EQ(plat::GetEnv(name), std::nullopt);
  EXPECT_TRUE(plat::SetEnv(name, nullptr)) << "removing an absent variable is not an error";
}

TEST(DynamicLibrary, MissingLibraryFailsWithAnError) {
  txl_test::TempFolder tmp;
  plat::SetLastError(0);
  EXPECT_EQ(plat::LoadDynamicLibrary(tmp.Wide("absent") + u"/" + plat::SharedLibraryFileName(u"Nothing")), nullptr);
  EXPECT_NE(plat::GetLastError(), 0u);
#if defined(_WIN32)
  EXPECT_EQ(plat::SharedLibraryFileName(u"Vexel"), u"Vexel.dll");
#else
  EXPECT_EQ(plat::SharedLibraryFileName(u"Vexel"), u"Vexel.so");
#endif
}

}  // namespace
