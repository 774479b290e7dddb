#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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

class PosixEvent final : public Event {
 public:
  PosixEvent(bool manual, bool initial) : manual_(manual), signalled_(initial) {}

  bool Set() override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      signalled_ = true;
    }
    if (manual_) cv_.notify_all();
    else cv_.notify_one();
    return true;
  }

  bool Reset() override {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = false;
    return true;
  }

  DWORD Wait(DWORD timeout_ms) override {
    const DWORD scaled = ScaleMs(timeout_ms);
    std::unique_lock<std::mutex> lock(mu_);
    auto ready = [this] { return signalled_; };
    if (scaled == INFINITE) {
      cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(scaled), ready)) {
      return WAIT_TIMEOUT;
    }
    if (!manual_) signalled_ = false;
    return WAIT_OBJECT_0;
  }

 private:
  const bool manual_;
  bool signalled_;
  std::mutex mu_;
  std::condition_variable cv_;
};

}  // namespace

std::unique_ptr<Event> CreateEventObject(bool manual_reset, bool initially_signalled) {
  return std::make_unique<PosixEvent>(manual_reset, initially_signalled);
}

}  // namespace plat
