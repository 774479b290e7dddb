#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/sync.h"
#include "win32/os.h"

namespace plat {

void SleepMs(DWORD ms) { ::Sleep(ScaleMs(ms)); }

namespace {

// What WaitForAny needs of every object: its kernel handle.
class HandleCore {
 public:
  explicit HandleCore(win32::UniqueHandle h) : h_(std::move(h)) {}
  virtual ~HandleCore() = default;
  HANDLE Handle() const { return h_.get(); }

 protected:
  DWORD WaitOne(Timeout timeout) {
    switch (::WaitForSingleObject(h_.get(), timeout.Scaled())) {
      case WAIT_OBJECT_0: return WAIT_OBJECT_0;
      case WAIT_TIMEOUT: return WAIT_TIMEOUT;
      // Events and semaphores are never abandoned; anything else is a failure.
      default: return WAIT_FAILED;
    }
  }

 private:
  win32::UniqueHandle h_;
};

class Win32Event final : public Event, public HandleCore {
 public:
  explicit Win32Event(win32::UniqueHandle h) : HandleCore(std::move(h)) {}

  bool Set() override { return ::SetEvent(Handle()) != 0; }
  bool Reset() override { return ::ResetEvent(Handle()) != 0; }
  DWORD Wait(Timeout timeout) override { return WaitOne(timeout); }
};

class Win32Semaphore final : public Semaphore, public HandleCore {
 public:
  explicit Win32Semaphore(win32::UniqueHandle h) : HandleCore(std::move(h)) {}

  bool Release(LONG count, LONG* previous) override {
    // Not every implementation of the API refuses a count of 0 (Wine takes it as a no-op).
    if (count <= 0) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    ::LONG before = 0;
    if (::ReleaseSemaphore(Handle(), count, &before) == 0) return false;
    if (previous) *previous = before;
    return true;
  }
  DWORD Wait(Timeout timeout) override { return WaitOne(timeout); }
};

}  // namespace

std::unique_ptr<Event> CreateEventObject(bool manual_reset, bool initially_signalled) {
  win32::UniqueHandle h(::CreateEventW(nullptr, manual_reset ? TRUE : FALSE, initially_signalled ? TRUE : FALSE,
                                       nullptr));
  if (!h) return nullptr;  // the system has set the last error
  return std::make_unique<Win32Event>(std::move(h));
}

std::unique_ptr<Semaphore> CreateSemaphoreObject(LONG initial_count, LONG maximum_count) {
  win32::UniqueHandle h(::CreateSemaphoreW(nullptr, initial_count, maximum_count, nullptr));
  if (!h) return nullptr;
  return std::make_unique<Win32Semaphore>(std::move(h));
}

DWORD WaitForAny(std::initializer_list<Waitable*> objects, Timeout timeout) {
  std::vector<HANDLE> handles;
  for (Waitable* object : objects) {
    auto* core = dynamic_cast<HandleCore*>(object);
    if (!core) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    handles.push_back(core->Handle());
  }
  if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const ::DWORD r =
      ::WaitForMultipleObjects(static_cast<::DWORD>(handles.size()), handles.data(), FALSE, timeout.Scaled());
  if (r == WAIT_TIMEOUT) return WAIT_TIMEOUT;
  if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) return r;
  return WAIT_FAILED;
}

}  // namespace plat
