#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/sync.h"

namespace plat {

void SleepMs(DWORD ms) {
  const DWORD scaled = ScaleMs(ms);
  if (scaled == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(scaled));
}

namespace {

// One thread inside WaitForAny: every object it waits on pokes it when signalled, and it then
// tries the objects again in order.
struct MultiWaiter {
  std::mutex mu;
  std::condition_variable cv;
  bool poked = false;
};

// What events and semaphores share on POSIX: a state guarded by one mutex, a condition for the
// threads waiting on this object alone, and the multi-object waiters to poke.
class WaitCore {
 public:
  virtual ~WaitCore() = default;

  DWORD WaitAlone(Timeout timeout) {
    const DWORD scaled = timeout.Scaled();
    std::unique_lock<std::mutex> lock(mu_);
    auto ready = [this] { return IsSignalledLocked(); };
    if (scaled == 0) {
      // A look, not a wait: no timed sleep in the kernel for an object that is not signalled.
      if (!ready()) return WAIT_TIMEOUT;
    } else if (scaled == INFINITE) {
      cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(scaled), ready)) {
      return WAIT_TIMEOUT;
    }
    ConsumeLocked();
    return WAIT_OBJECT_0;
  }

  bool TryTake() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!IsSignalledLocked()) return false;
    ConsumeLocked();
    return true;
  }

  void Attach(MultiWaiter* w) {
    std::lock_guard<std::mutex> lock(mu_);
    waiters_.push_back(w);
  }
  void Detach(MultiWaiter* w) {
    std::lock_guard<std::mutex> lock(mu_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), w), waiters_.end());
  }

 protected:
  virtual bool IsSignalledLocked() const = 0;
  virtual void ConsumeLocked() = 0;

  // Called with mu_ held after the state became signalled. Lock order: object, then waiter.
  void WakeLocked(bool all) {
    if (all) cv_.notify_all();
    else cv_.notify_one();
    for (MultiWaiter* w : waiters_) {
      {
        std::lock_guard<std::mutex> poke(w->mu);
        w->poked = true;
      }
      // Notified after the waiter's lock is let go, so that it does not wake only to block on it.
      // The waiter cannot be gone yet: it detaches under mu_, which the caller holds.
      w->cv.notify_one();
    }
  }

  std::mutex mu_;

 private:
  std::condition_variable cv_;
  std::vector<MultiWaiter*> waiters_;
};

class PosixEvent final : public Event, public WaitCore {
 public:
  PosixEvent(bool manual, bool initial) : manual_(manual), signalled_(initial) {}

  bool Set() override {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = true;
    WakeLocked(manual_);
    return true;
  }

  bool Reset() override {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = false;
    return true;
  }

  DWORD Wait(Timeout timeout) override { return WaitAlone(timeout); }

 private:
  bool IsSignalledLocked() const override { return signalled_; }
  void ConsumeLocked() override {
    if (!manual_) signalled_ = false;
  }

  const bool manual_;
  bool signalled_;
};

class PosixSemaphore final : public Semaphore, public WaitCore {
 public:
  PosixSemaphore(LONG initial, LONG maximum) : count_(initial), maximum_(maximum) {}

  bool Release(LONG count, LONG* previous) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (count <= 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (count > maximum_ - count_) {
      SetLastError(ERROR_TOO_MANY_POSTS);
      return false;
    }
    if (previous) *previous = count_;
    count_ += count;
    WakeLocked(count > 1);
    return true;
  }

  DWORD Wait(Timeout timeout) override { return WaitAlone(timeout); }

 private:
  bool IsSignalledLocked() const override { return count_ > 0; }
  void ConsumeLocked() override { --count_; }

  LONG count_;
  const LONG maximum_;
};

// The Windows limit of one WaitForMultipleObjects call.
constexpr std::size_t kMaxWaitObjects = 64;

}  // namespace

std::unique_ptr<Event> CreateEventObject(bool manual_reset, bool initially_signalled) {
  return std::make_unique<PosixEvent>(manual_reset, initially_signalled);
}

std::unique_ptr<Semaphore> CreateSemaphoreObject(LONG initial_count, LONG maximum_count) {
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::make_unique<PosixSemaphore>(initial_count, maximum_count);
}

DWORD WaitForAny(std::initializer_list<Waitable*> objects, Timeout timeout) {
  if (objects.size() == 0 || objects.size() > kMaxWaitObjects) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<WaitCore*> cores;
  for (Waitable* object : objects) {
    auto* core = dynamic_cast<WaitCore*>(object);
    if (!core) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    cores.push_back(core);
  }

  MultiWaiter waiter;
  for (WaitCore* core : cores) core->Attach(&waiter);
  const DWORD scaled = timeout.Scaled();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled);
  DWORD result = WAIT_TIMEOUT;
  for (bool last_try = false;;) {
    // Attached before trying, so that a signal after a miss below still pokes us.
    const auto hit = std::find_if(cores.begin(), cores.end(), [](WaitCore* c) { return c->TryTake(); });
    if (hit != cores.end()) {
      result = WAIT_OBJECT_0 + static_cast<DWORD>(hit - cores.begin());
      break;
    }
    if (last_try) break;
    std::unique_lock<std::mutex> lock(waiter.mu);
    if (scaled == INFINITE) {
      waiter.cv.wait(lock, [&] { return waiter.poked; });
    } else if (!waiter.cv.wait_until(lock, deadline, [&] { return waiter.poked; })) {
      last_try = true;  // one more look: a signal may have come with the time-out
    }
    waiter.poked = false;
  }
  for (WaitCore* core : cores) core->Detach(&waiter);
  return result;
}

}  // namespace plat
