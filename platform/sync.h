// Events and time-outs. Every wait and sleep of the suite goes through here, so that
// TXL_TIME_SCALE can run the long waits quickly in tests.
#pragma once

#include <memory>

#include "platform/types.h"

namespace plat {

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

// The factor TXL_TIME_SCALE sets (a positive number, default 1). An unparsable or non-positive
// value is ignored (factor 1).
double TimeScale();
// A duration in milliseconds as the current time scale makes it; INFINITE stays INFINITE.
DWORD ScaleMs(DWORD ms);

// Sleeps for ms milliseconds, scaled.
void SleepMs(DWORD ms);

// A Windows event: auto-reset (one waiter released per Set, then non-signalled) or manual-reset.
class Event {
 public:
  virtual ~Event() = default;
  virtual bool Set() = 0;
  virtual bool Reset() = 0;
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT (258) after the scaled time-out, WAIT_FAILED on
  // failure. The time-out is in milliseconds before scaling; INFINITE waits for ever.
  virtual DWORD Wait(DWORD timeout_ms) = 0;
};

// Creates an unnamed event; null on failure, with the thread's last error set.
std::unique_ptr<Event> CreateEventObject(bool manual_reset, bool initially_signalled);

}  // namespace plat
