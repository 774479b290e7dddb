#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using txl_test::ChildProcess;
using txl_test::ScopedEnv;
using txl_test::TempFolder;

constexpr char16_t kName[] = u"Global\\Txl{Test}Mutex";

// Whether `done` turns true within `limit`.
bool Within(std::chrono::milliseconds limit, const std::atomic<bool>& done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  return done.load();
}

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class NamedMutexTest : public ::testing::Test {
 protected:
  TempFolder machine_;
  ScopedEnv env_{"TXL_MACHINE_DIR", machine_.path().string().c_str()};
};

TEST_F(NamedMutexTest, AnotherHandleInAnotherThreadWaitsForTheOwner) {
  auto mine = plat::OpenNamedMutex(kName);
  auto theirs = plat::OpenNamedMutex(kName);
  ASSERT_TRUE(mine && theirs);
  ASSERT_EQ(mine->Wait(), plat::WAIT_OBJECT_0);
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    if (theirs->Wait() == plat::WAIT_OBJECT_0) acquired = true;
    theirs->Release();
  });
  EXPECT_FALSE(Within(200ms, acquired));
  ASSERT_TRUE(mine->Release());
  EXPECT_TRUE(Within(5000ms, acquired));
  other.join();
}

TEST_F(NamedMutexTest, TwoThreadsOnOneHandleExcludeEachOther) {
  auto shared = plat::OpenNamedMutex(kName);
  ASSERT_TRUE(shared);
  ASSERT_EQ(shared->Wait(), plat::WAIT_OBJECT_0);
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    if (shared->Wait() == plat::WAIT_OBJECT_0) acquired = true;
    shared->Release();
  });
  EXPECT_FALSE(Within(200ms, acquired));
  ASSERT_TRUE(shared->Release());
  EXPECT_TRUE(Within(5000ms, acquired));
  other.join();
}

TEST_F(NamedMutexTest, OwnerReentersThroughAnyHandleAndReleasesAsOften) {
  auto first = plat::OpenNamedMutex(kName);
  auto second = plat::OpenNamedMutex(kName);
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->Wait(), plat::WAIT_OBJECT_0);
  ASSERT_EQ(second->Wait(), plat::WAIT_OBJECT_0) << "the owner thread must not deadlock on itself";
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    auto third = plat::OpenNamedMutex(kName);
    if (third && third->Wait() == plat::WAIT_OBJECT_0) {
      acquired = true;
      third->Release();
    }
  });
  ASSERT_TRUE(second->Release());
  EXPECT_FALSE(Within(200ms, acquired)) << "one release of two must keep the mutex owned";
  ASSERT_TRUE(first->Release());
  EXPECT_TRUE(Within(5000ms, acquired));
  other.join();
}

TEST_F(NamedMutexTest, ReleaseByAThreadThatDoesNotOwnItFails) {
  auto mutex = plat::OpenNamedMutex(kName);
  ASSERT_TRUE(mutex);
  plat::SetLastError(0);
  EXPECT_FALSE(mutex->Release()) << "not held at all";
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_NOT_OWNER);

  ASSERT_EQ(mutex->Wait(), plat::WAIT_OBJECT_0);
  bool released_by_other = true;
  std::thread([&] { released_by_other = mutex->Release(); }).join();
  EXPECT_FALSE(released_by_other);
  EXPECT_TRUE(mutex->Release());
}

TEST_F(NamedMutexTest, DifferentNamesDoNotInterfere) {
  auto a = plat::OpenNamedMutex(u"Local\\A");
  auto b = plat::OpenNamedMutex(u"Local\\B");
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->Wait(), plat::WAIT_OBJECT_0);
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    if (b->Wait() == plat::WAIT_OBJECT_0) acquired = true;
    b->Release();
  });
  EXPECT_TRUE(Within(5000ms, acquired));
  other.join();
  a->Release();
}

TEST_F(NamedMutexTest, LivesAsAFileOfTheNotebookNamedAfterTheMutex) {
  auto mutex = plat::OpenNamedMutex(u"Global\\Krill{51766A46-2426}Lock:1");
  ASSERT_TRUE(mutex);
  EXPECT_TRUE(std::filesystem::exists(machine_.path() / "locks" / "Global_Krill{51766A46-2426}Lock_1"));
}

TEST_F(NamedMutexTest, AnotherProcessWaitsUntilTheOwnerReleases) {
  const auto marker = machine_.path() / "marker.txt";
  auto mine = plat::OpenNamedMutex(kName);
  ASSERT_TRUE(mine);
  ASSERT_EQ(mine->Wait(), plat::WAIT_OBJECT_0);
  ChildProcess child({PLATFORM_CHILD, "take", plat::Utf16ToUtf8(kName), marker.string()});
  ASSERT_TRUE(child.started());
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the child got in while this process held the mutex";
  ASSERT_TRUE(mine->Release());
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadText(marker), std::to_string(child.pid()) + " in\n" + std::to_string(child.pid()) + " out\n");
  // And the child gave it back.
  EXPECT_EQ(mine->Wait(), plat::WAIT_OBJECT_0);
  mine->Release();
}

TEST_F(NamedMutexTest, AHolderThatDiesGivesItUp) {
  ChildProcess child({PLATFORM_CHILD, "take-and-die", plat::Utf16ToUtf8(kName)});
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  auto mine = plat::OpenNamedMutex(kName);
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->Wait(), plat::WAIT_OBJECT_0);
  EXPECT_TRUE(mine->Release());
}

}  // namespace
