// Semaphores and waits on several objects.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/process.h"
#include "platform/sync.h"

namespace {

using plat::WAIT_OBJECT_0;
using plat::WAIT_TIMEOUT;

// Long enough for any machine, whatever TXL_TIME_SCALE says.
plat::DWORD Patience() { return static_cast<plat::DWORD>(10000 / plat::TimeScale()); }

TEST(Semaphore, CountsUpToItsMaximum) {
  EXPECT_EQ(plat::CreateSemaphoreObject(2, 1), nullptr);
  EXPECT_EQ(plat::CreateSemaphoreObject(-1, 1), nullptr);
  EXPECT_EQ(plat::CreateSemaphoreObject(0, 0), nullptr);

  auto sem = plat::CreateSemaphoreObject(1, 3);
  ASSERT_TRUE(sem);
  plat::LONG previous = -1;
  EXPECT_TRUE(sem->Release(2, &previous));
  EXPECT_EQ(previous, 1);
  previous = -1;
  EXPECT_FALSE(sem->Release(1, &previous)) << "past the maximum";
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_TOO_MANY_POSTS);
  EXPECT_EQ(previous, -1);
  EXPECT_FALSE(sem->Release(0));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sem->Wait(0), WAIT_OBJECT_0) << i;
  EXPECT_EQ(sem->Wait(1), WAIT_TIMEOUT) << "the failed releases added nothing";
}

TEST(Semaphore, EachReleaseLetsOneWaiterThrough) {
  auto sem = plat::CreateSemaphoreObject(0, 100);
  ASSERT_TRUE(sem);
  std::atomic<int> through{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (sem->Wait(Patience()) == WAIT_OBJECT_0) ++through;
    });
  ASSERT_TRUE(sem->Release(3));
  ASSERT_TRUE(sem->Release(1));
  for (auto& t : waiters) t.join();
  EXPECT_EQ(through.load(), 4);
  EXPECT_EQ(sem->Wait(0), WAIT_TIMEOUT);
}

TEST(WaitForAny, TakesTheFirstSignalledObjectOnly) {
  auto manual = plat::CreateEventObject(true, false);
  auto automatic = plat::CreateEventObject(false, false);
  auto sem = plat::CreateSemaphoreObject(0, 10);
  ASSERT_TRUE(manual && automatic && sem);

  EXPECT_EQ(plat::WaitForAny({automatic.get(), sem.get()}, 1), WAIT_TIMEOUT);
  EXPECT_EQ(plat::WaitForAny({}, 0), plat::WAIT_FAILED);
  EXPECT_EQ(plat::WaitForAny({sem.get(), nullptr}, 0), plat::WAIT_FAILED);

  ASSERT_TRUE(sem->Release(2));
  ASSERT_TRUE(automatic->Set());
  // Index order decides; the objects not chosen keep their state.
  EXPECT_EQ(plat::WaitForAny({automatic.get(), sem.get()}, 0), WAIT_OBJECT_0);
  EXPECT_EQ(plat::WaitForAny({automatic.get(), sem.get()}, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(plat::WaitForAny({sem.get(), automatic.get()}, 0), WAIT_OBJECT_0);
  EXPECT_EQ(plat::WaitForAny({automatic.get(), sem.get()}, 0), WAIT_TIMEOUT);

  ASSERT_TRUE(manual->Set());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(plat::WaitForAny({sem.get(), manual.get()}, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(manual->Wait(0), WAIT_OBJECT_0) << "a manual-reset event stays signalled";
}

TEST(WaitForAny, WakesWhenAnotherThreadSignals) {
  auto stop = plat::CreateEventObject(false, false);
  auto sem = plat::CreateSemaphoreObject(0, 10);
  ASSERT_TRUE(stop && sem);
  plat::DWORD first = 0;
  plat::DWORD second = 0;
  std::thread waiter([&] {
    first = plat::WaitForAny({stop.get(), sem.get()}, Patience());
    second = plat::WaitForAny({stop.get(), sem.get()}, Patience());
  });
  ASSERT_TRUE(sem->Release(1));
  ASSERT_TRUE(stop->Set());
  waiter.join();
  // Either order of arrival: both signals are seen, none twice.
  EXPECT_EQ(first + second, 2 * WAIT_OBJECT_0 + 1);
  EXPECT_EQ(plat::WaitForAny({stop.get(), sem.get()}, 0), WAIT_TIMEOUT);
}

}  // namespace
