#include "platform/clock.h"
#include "platform/types.h"
#include "win32/os.h"

namespace plat {

LocalTime GetLocalTimeNow() {
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  LocalTime t{};
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  t.day_of_week = st.wDayOfWeek;
  return t;
}

std::int64_t UnixTimeNow() {
  // FILETIME counts 100 ns ticks from 1601-01-01 UTC.
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kEpochDelta = 11'644'473'600LL * kTicksPerSecond;
  FILETIME ft{};
  ::GetSystemTimeAsFileTime(&ft);
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (ticks - kEpochDelta) / kTicksPerSecond;
}

std::uint64_t MonotonicMs() { return static_cast<std::uint64_t>(::GetTickCount64()); }

}  // namespace plat
