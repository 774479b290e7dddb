#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

namespace {

TEST(Clock, LocalTimeIsTheWallClockInTheLocalZone) {
  const plat::LocalTime lt = plat::GetLocalTimeNow();
  const std::time_t now = std::time(nullptr);
  EXPECT_GE(lt.month, 1);
  EXPECT_LE(lt.month, 12);
  EXPECT_GE(lt.millisecond, 0);
  EXPECT_LE(lt.millisecond, 999);

  // Read back as a local time, the fields name the present second.
  std::tm tm{};
  tm.tm_year = lt.year - 1900;
  tm.tm_mon = lt.month - 1;
  tm.tm_mday = lt.day;
  tm.tm_hour = lt.hour;
  tm.tm_min = lt.minute;
  tm.tm_sec = lt.second;
  tm.tm_isdst = -1;
  const std::time_t back = std::mktime(&tm);
  EXPECT_LE(std::abs(static_cast<long long>(back - now)), 2);
  EXPECT_EQ(lt.day_of_week, tm.tm_wday);
}

TEST(Clock, UnixTimeCountsSecondsSince1970) {
  const auto expected =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(std::abs(plat::UnixTimeNow() - static_cast<std::int64_t>(expected)), 2);
}

TEST(Clock, MonotonicMillisecondsAdvance) {
  const std::uint64_t a = plat::MonotonicMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  const std::uint64_t b = plat::MonotonicMs();
  EXPECT_GE(b - a, 20u);  // 40 ms, read through a clock that may tick in 16 ms steps
  EXPECT_LT(b - a, 5000u);
}

}  // namespace
