// The support-object factory, the channel log's references and the process lock, in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "api/support/global_tools.h"
#include "api/support/log/log.h"
#include "tests/platform/test_support.h"

namespace {

using namespace IGlobalTools;
using namespace std::chrono_literals;

plat::GUID WithByteFlipped(const plat::GUID& id, std::size_t byte) {
  plat::GUID changed = id;
  reinterpret_cast<unsigned char*>(&changed)[byte] ^= 0x01;
  return changed;
}

class ServicesTest : public ::testing::Test {
 protected:
  txl_test::TempFolder machine_;
  txl_test::ScopedEnv env_{"TXL_MACHINE_DIR", machine_.path().string().c_str()};
};

TEST_F(ServicesTest, FactoryMakesTheClassesThatExist) {
  {
    void* made = nullptr;
    ASSERT_EQ(CreateToolObject(CLSID_CLogEx, &made), 1);
    ASSERT_NE(made, nullptr);
    void* second = nullptr;
    ASSERT_EQ(CreateToolObject(CLSID_CLogEx, &second), 1);
    EXPECT_NE(second, made) << "every API log object is new";
    static_cast<ILogEx*>(made)->Release();
    static_cast<ILogEx*>(second)->Release();
  }
  {
    void* made = nullptr;
    ASSERT_EQ(CreateToolObject(CLSID_CLog, &made), 1);
    ILog* shared = GetChannelLog();
    EXPECT_EQ(made, static_cast<void*>(shared)) << "the channel log is one object";
    static_cast<ILog*>(made)->Release();
    shared->Release();
  }
  {
    void* made = nullptr;
    ASSERT_EQ(CreateToolObject(CLSID_CMbimDeviceEx, &made), 1);
    ASSERT_NE(made, nullptr);
    static_cast<IMbimChannel*>(made)->Close();
  }
}

TEST_F(ServicesTest, FactoryRefusesEveryOtherId) {
  std::vector<plat::GUID> refused = {plat::GUID{}};
  // Ids one byte away from a real one, whichever byte: the comparison is of all 16.
  for (const auto& real : {CLSID_CLog, CLSID_CLogEx, CLSID_CMbimDeviceEx, CLSID_CKrillParser, CLSID_CSerial,
                           CLSID_CThreadQueue, CLSID_CThreadPools})
    for (std::size_t byte = 0; byte < sizeof(plat::GUID); ++byte) refused.push_back(WithByteFlipped(real, byte));
  for (const auto& id : refused) {
    void* made = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateToolObject(id, &made), 0) << std::hex << id.Data1 << " " << id.Data2;
    EXPECT_EQ(made, nullptr);
  }
  EXPECT_EQ(CreateToolObject(CLSID_CLogEx, nullptr), 0);
}

TEST_F(ServicesTest, ChannelLogCountsItsReferences) {
  CLog* log = new CLog(u"");
  EXPECT_EQ(log->AddRef(), 2);
  EXPECT_EQ(log->AddRef(), 3);
  log->Release();
  log->Release();
  log->Release();  // the last: the object is gone (a leak or a use after this shows under ASan)
}

TEST_F(ServicesTest, SharedChannelLogOutlivesItsCallersReferences) {
  ILog* first = GetChannelLog();
  const long before = first->AddRef();
  first->Release();
  first->Release();  // every reference this test was given
  ILog* again = GetChannelLog();
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->AddRef(), before) << "one reference per GetChannelLog, none lost";
  again->Release();
  again->Release();
}

TEST_F(ServicesTest, ApiLogIsOneObjectWritingBesideTheExecutable) {
  ILogEx* log = GetApiLog();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(GetApiLog(), log);
  const std::string exe = plat::Utf16ToUtf8(plat::HostExecutablePath());
  EXPECT_EQ(static_cast<CLogEx*>(log)->LogFile(),
            (std::filesystem::path(exe).parent_path() / "UpdateDebugLog.log").string());
}

TEST_F(ServicesTest, ProcessLockDoesNothingWhileClosed) {
  ProcessLock lock;
  EXPECT_FALSE(lock.IsOpen());
  lock.WaitProcessLock();
  lock.ReleaseProcessLock();
  lock.CloseProcessLock();
  EXPECT_FALSE(lock.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(machine_.path() / "locks")) << "nothing was opened";
}

TEST_F(ServicesTest, ProcessLocksOfTwoThreadsExcludeEachOther) {
  ProcessLock mine;
  mine.OpenProcessLock();
  ASSERT_TRUE(mine.IsOpen());
  EXPECT_TRUE(std::filesystem::exists(machine_.path() / "locks" /
                                      "Global_KrillMbn{51766A46-2426-441F-8408-074C1A87F53A}MutexLock"));
  mine.WaitProcessLock();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    ProcessLock theirs;
    theirs.OpenProcessLock();
    theirs.WaitProcessLock();
    entered = true;
    theirs.ReleaseProcessLock();
    theirs.CloseProcessLock();
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(entered.load());
  mine.ReleaseProcessLock();
  other.join();
  EXPECT_TRUE(entered.load());
  mine.CloseProcessLock();
  EXPECT_FALSE(mine.IsOpen());
}

}  // namespace
