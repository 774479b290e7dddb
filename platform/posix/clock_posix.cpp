#include <time.h>

#include <chrono>

#include "platform/clock.h"

namespace plat {

LocalTime GetLocalTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  LocalTime t{};
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  t.day_of_week = local.tm_wday;
  return t;
}

std::int64_t UnixTimeNow() { return static_cast<std::int64_t>(::time(nullptr)); }

std::uint64_t MonotonicMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace plat
