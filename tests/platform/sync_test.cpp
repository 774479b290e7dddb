#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using txl_test::ScopedEnv;

TEST(TimeScale, ParsesPositiveNumbersAndIgnoresTheRest) {
  struct Case {
    const char* value;  // null: unset
    double scale;
  };
  const Case cases[] = {
      {nullptr, 1.0}, {"", 1.0},     {"0.01", 0.01}, {"2", 2.0},    {"1e-3", 0.001},
      {"0", 1.0},     {"-0.5", 1.0}, {"abc", 1.0},   {"0.5x", 1.0}, {"nan", 1.0},
      {"inf", 1.0},
  };
  for (const auto& c : cases) {
    ScopedEnv env("TXL_TIME_SCALE", c.value);
    EXPECT_DOUBLE_EQ(plat::TimeScale(), c.scale) << (c.value ? c.value : "(unset)");
  }
}

TEST(TimeScale, ScalesDurationsUpAndKeepsInfinite) {
  {
    ScopedEnv env("TXL_TIME_SCALE", "0.01");
    EXPECT_EQ(plat::ScaleMs(1000), 10u);
    EXPECT_EQ(plat::ScaleMs(1), 1u) << "a short wait is not turned into a poll";
    EXPECT_EQ(plat::ScaleMs(0), 0u);
    EXPECT_EQ(plat::ScaleMs(plat::INFINITE), plat::INFINITE);
    // A round trip shrinks with the scale only down to what a busy machine needs, and a short one
    // is never lengthened.
    using plat::Timeout;
    EXPECT_EQ(Timeout(5000).Scaled(), 50u);
    EXPECT_EQ(Timeout::RoundTrip(5000).Scaled(), plat::kRoundTripFloorMs);
    EXPECT_EQ(Timeout::RoundTrip(500000).Scaled(), 5000u);
    EXPECT_EQ(Timeout::RoundTrip(300).Scaled(), 300u);
    EXPECT_EQ(Timeout::RoundTrip(0).Scaled(), 0u);
    EXPECT_EQ(Timeout::RoundTrip(plat::INFINITE).Scaled(), plat::INFINITE);
  }
  {
    ScopedEnv env("TXL_TIME_SCALE", "1000");
    EXPECT_EQ(plat::Timeout::RoundTrip(5000).Scaled(), 5000000u);
    // A finite wait stays finite however large the factor.
    EXPECT_EQ(plat::ScaleMs(0xFFFFFFF0u), plat::INFINITE - 1);
  }
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
  auto ev = plat::CreateEventObject(false, false);
  ASSERT_TRUE(ev);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      if (ev->Wait(plat::INFINITE) == plat::WAIT_OBJECT_0) ++released;
    });
  ASSERT_TRUE(ev->Set());
  // Give a wrongly woken second waiter time to show up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (released.load() < 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(released.load(), 1);
  ASSERT_TRUE(ev->Set());
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 2);
}

TEST(Event, AutoResetIsConsumedByTheWaitThatSeesIt) {
  ScopedEnv env("TXL_TIME_SCALE", "0.01");
  auto ev = plat::CreateEventObject(false, true);
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->Wait(0), plat::WAIT_OBJECT_0);
  EXPECT_EQ(ev->Wait(0), plat::WAIT_TIMEOUT);
  ev->Set();
  ev->Set();  // signalling twice does not count twice
  EXPECT_EQ(ev->Wait(100), plat::WAIT_OBJECT_0);
  EXPECT_EQ(ev->Wait(100), plat::WAIT_TIMEOUT);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  ScopedEnv env("TXL_TIME_SCALE", "0.01");
  auto ev = plat::CreateEventObject(true, false);
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->Wait(0), plat::WAIT_TIMEOUT);
  ASSERT_TRUE(ev->Set());
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (ev->Wait(plat::INFINITE) == plat::WAIT_OBJECT_0) ++released;
    });
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(ev->Wait(0), plat::WAIT_OBJECT_0);
  ASSERT_TRUE(ev->Reset());
  EXPECT_EQ(ev->Wait(10), plat::WAIT_TIMEOUT);
}

TEST(Event, TimeOutIsScaled) {
  ScopedEnv env("TXL_TIME_SCALE", "0.01");
  auto ev = plat::CreateEventObject(false, false);
  ASSERT_TRUE(ev);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ev->Wait(3000), 258u);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(15));  // 30 ms, with room for a coarse system timer
  EXPECT_LT(waited, std::chrono::milliseconds(1500));  // and nowhere near the unscaled 3 s
}

TEST(Event, SetFromAnotherThreadEndsATimedWait) {
  ScopedEnv env("TXL_TIME_SCALE", "1");
  auto ev = plat::CreateEventObject(false, false);
  ASSERT_TRUE(ev);
  std::thread setter([&] {
    plat::SleepMs(20);
    ev->Set();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ev->Wait(10000), plat::WAIT_OBJECT_0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  setter.join();
}

TEST(Sleep, IsScaled) {
  ScopedEnv env("TXL_TIME_SCALE", "0.01");
  const auto start = std::chrono::steady_clock::now();
  plat::SleepMs(2000);
  const auto slept = std::chrono::steady_clock::now() - start;
  EXPECT_GE(slept, std::chrono::milliseconds(10));  // 20 ms, with room for a coarse system timer
  EXPECT_LT(slept, std::chrono::milliseconds(1000));
}

}  // namespace
