#include <utility>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "win32/os.h"

namespace plat {

namespace {

class Win32NamedMutex final : public NamedMutex {
 public:
  explicit Win32NamedMutex(win32::UniqueHandle h) : h_(std::move(h)) {}

  DWORD Wait() override {
    switch (::WaitForSingleObject(h_.get(), INFINITE)) {
      // An abandoned mutex is owned by the caller all the same; what it guarded may be half done,
      // which the suite's exchanges (each complete in itself) can live with.
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED: return WAIT_OBJECT_0;
      default: return WAIT_FAILED;
    }
  }
  bool Release() override { return ::ReleaseMutex(h_.get()) != 0; }

 private:
  win32::UniqueHandle h_;
};

}  // namespace

std::unique_ptr<NamedMutex> OpenNamedMutex(const std::u16string& name) {
  win32::UniqueHandle h(::CreateMutexW(nullptr, FALSE, win32::W(name.c_str())));
  if (!h) return nullptr;  // the system has set the last error
  // Opening an existing mutex reports ERROR_ALREADY_EXISTS even though it succeeded.
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<Win32NamedMutex>(std::move(h));
}

}  // namespace plat
