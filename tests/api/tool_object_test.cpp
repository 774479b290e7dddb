// The four support objects the factory makes beyond the logs and the channel, each driven
// through its interface.
#include <gtest/gtest.h>

#include "api/support/global_tools.h"
#include "api/support/jobs/jobs.h"
#include "api/support/serial/serial.h"
#include "tests/api/queue_pool_jobs.h"
#include "tests/platform/test_support.h"

namespace {

using namespace IGlobalTools;

template <typename Interface>
Interface* Make(const plat::GUID& id) {
  void* made = nullptr;
  EXPECT_EQ(CreateToolObject(id, &made), 1);
  return static_cast<Interface*>(made);
}

TEST(ToolObject, EveryClassIdMakesAWorkingObject) {
  txl_test::TempFolder machine;
  txl_test::ScopedEnv env("TXL_MACHINE_DIR", machine.path().string().c_str());

  auto* parser = Make<IAtParser>(CLSID_CKrillParser);
  ASSERT_NE(parser, nullptr);
  EXPECT_EQ(parser->HexToDecimal("0x1A"), "26");
  parser->Release();

  auto* serial = Make<IDeviceMsg>(CLSID_CSerial);
  ASSERT_NE(serial, nullptr);
  EXPECT_EQ(serial->OpenPort(1), plat::E_FAIL) << "the notebook has no COM1";
  EXPECT_TRUE(serial->ClosePort());
  serial->Release();

  txl_test::Ledger ledger(4);
  auto* queue = Make<IThreadQueue>(CLSID_CThreadQueue);
  ASSERT_NE(queue, nullptr);
  EXPECT_TRUE(queue->Start());
  queue->AddJob(new txl_test::RecordingJob(&ledger, 0));
  EXPECT_TRUE(ledger.WaitReleased(1));
  queue->Stop();
  queue->Release();
  EXPECT_EQ(ledger.Runs(0), 1);

  auto* pool = Make<IThreadPools>(CLSID_CThreadPools);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->Start(), 1);
  EXPECT_TRUE(pool->AddJob(new txl_test::RecordingJob(&ledger, 1)));
  EXPECT_TRUE(ledger.WaitReleased(2));
  EXPECT_EQ(pool->Stop(), 1);
  txl_test::RecordingJob kept(&ledger, 2);
  EXPECT_FALSE(pool->AddJob(&kept));
  void* second = nullptr;
  ASSERT_EQ(CreateToolObject(CLSID_CThreadPools, &second), 1);
  EXPECT_NE(second, static_cast<void*>(pool)) << "a new object every time";
  static_cast<IThreadPools*>(second)->Release();
  pool->Release();
  EXPECT_EQ(ledger.Runs(1), 1);
}

}  // namespace
