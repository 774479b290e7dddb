// Wall-clock and monotonic time.
#pragma once

#include <cstdint>

namespace plat {

struct LocalTime {
  int year;    // e.g. 2025
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59
  int millisecond;
  int day_of_week;  // 0 = Sunday
};

LocalTime GetLocalTimeNow();
// Seconds since 1970-01-01 UTC.
std::int64_t UnixTimeNow();
// Milliseconds from an arbitrary fixed point; never goes backwards.
std::uint64_t MonotonicMs();

}  // namespace plat
