#include <utility>

#include "platform/process.h"
#include "platform/sync.h"
#include "win32/os.h"

namespace plat {

void SleepMs(DWORD ms) { ::Sleep(ScaleMs(ms)); }

namespace {

class Win32Event final : public Event {
 public:
  explicit Win32Event(win32::UniqueHandle h) : h_(std::move(h)) {}

  bool Set() override { return ::SetEvent(h_.get()) != 0; }
  bool Reset() override { return ::ResetEvent(h_.get()) != 0; }

  DWORD Wait(DWORD timeout_ms) override {
    switch (::WaitForSingleObject(h_.get(), ScaleMs(timeout_ms))) {
      case WAIT_OBJECT_0: return WAIT_OBJECT_0;
      case WAIT_TIMEOUT: return WAIT_TIMEOUT;
      // An event is never abandoned; anything but the two answers above is a failure.
      default: return WAIT_FAILED;
    }
  }

 private:
  win32::UniqueHandle h_;
};

}  // namespace

std::unique_ptr<Event> CreateEventObject(bool manual_reset, bool initially_signalled) {
  win32::UniqueHandle h(::CreateEventW(nullptr, manual_reset ? TRUE : FALSE, initially_signalled ? TRUE : FALSE,
                                       nullptr));
  if (!h) return nullptr;  // the system has set the last error
  return std::make_unique<Win32Event>(std::move(h));
}

}  // namespace plat
