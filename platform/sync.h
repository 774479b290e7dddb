// Events, semaphores and time-outs. Every wait and sleep of the suite goes through here, so that
// TXL_TIME_SCALE can run the system's own long pauses quickly in tests.
#pragma once

#include <initializer_list>
#include <memory>

#include "platform/types.h"

namespace plat {

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
// A semaphore release that would take the count above its maximum.
inline constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

// The factor TXL_TIME_SCALE sets (a positive number, default 1). An unparsable or non-positive
// value is ignored (factor 1).
double TimeScale();
// A duration in milliseconds as the current time scale makes it; INFINITE stays INFINITE.
DWORD ScaleMs(DWORD ms);

// Sleeps for ms milliseconds, scaled.
void SleepMs(DWORD ms);

// The least a scaled round-trip guard lasts (see Timeout): more than a completion handed between
// threads, a child process's start or a synced log line takes on a machine whose cores and disk
// are kept busy by other work.
inline constexpr DWORD kRoundTripFloorMs = 2000;

// How long a wait may last, in milliseconds before scaling. A plain number is a pause of the
// system's own (the bridge's second at load, the tool's two minutes, a poll interval): the time
// scale shortens it as it likes. A round trip is a wait that guards an answer from somewhere else
// (another thread's completion, a process, a device, a disk): it takes what that answer takes on a
// busy machine, so the scale shortens it too but never below kRoundTripFloorMs (nor past its own
// length). A test that needs such a wait to expire withholds the answer; it does not shorten the
// clock.
class Timeout {
 public:
  constexpr Timeout(DWORD ms) : ms_(ms) {}  // NOLINT(google-explicit-constructor): a pause
  static constexpr Timeout RoundTrip(DWORD ms) { return Timeout(ms, true); }

  constexpr DWORD ms() const { return ms_; }
  constexpr bool round_trip() const { return round_trip_; }
  // What the wait lasts now; INFINITE stays INFINITE.
  DWORD Scaled() const;

 private:
  constexpr Timeout(DWORD ms, bool round_trip) : ms_(ms), round_trip_(round_trip) {}
  DWORD ms_;
  bool round_trip_ = false;
};

// Anything WaitForAny can wait on: events and semaphores.
class Waitable {
 public:
  virtual ~Waitable() = default;

 protected:
  Waitable() = default;
  Waitable(const Waitable&) = default;
  Waitable& operator=(const Waitable&) = default;
};

// A Windows event: auto-reset (one waiter released per Set, then non-signalled) or manual-reset.
class Event : public Waitable {
 public:
  virtual bool Set() = 0;
  virtual bool Reset() = 0;
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT (258) after the scaled time-out, WAIT_FAILED on
  // failure. INFINITE waits for ever.
  virtual DWORD Wait(Timeout timeout) = 0;
};

// Creates an unnamed event; null on failure, with the thread's last error set.
std::unique_ptr<Event> CreateEventObject(bool manual_reset, bool initially_signalled);

// A Windows semaphore: a count between 0 and a maximum; each satisfied wait takes one.
class Semaphore : public Waitable {
 public:
  // Adds `count` (at least 1). False without any change when the count would pass the maximum
  // (last error ERROR_TOO_MANY_POSTS) or `count` is not positive. *previous, when given, receives
  // the count before a successful release.
  virtual bool Release(LONG count = 1, LONG* previous = nullptr) = 0;
  // Takes one from the count: WAIT_OBJECT_0, WAIT_TIMEOUT after the scaled time-out, WAIT_FAILED.
  virtual DWORD Wait(Timeout timeout) = 0;
};

// Creates an unnamed semaphore; null (last error ERROR_INVALID_PARAMETER) unless
// 0 <= initial_count <= maximum_count and maximum_count > 0.
std::unique_ptr<Semaphore> CreateSemaphoreObject(LONG initial_count, LONG maximum_count);

// Waits until one of the objects is signalled, as WaitForMultipleObjects does without waiting for
// all: WAIT_OBJECT_0 + the index of the first signalled object in the list, which the wait consumes
// (an auto-reset event is reset, a semaphore count taken) while the others stay untouched;
// WAIT_TIMEOUT after the scaled time-out; WAIT_FAILED for an empty list, a null entry or more than
// 64 objects.
DWORD WaitForAny(std::initializer_list<Waitable*> objects, Timeout timeout);

}  // namespace plat
