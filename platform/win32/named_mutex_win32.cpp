#include <utility>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "win32/os.h"

#include <sddl.h>

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

// Who may use a mutex this process creates: the system and administrators fully; every signed-in
// user only to wait for it and release it. The suite's programs run as different users (the
// service's tool as the system, txlctl as whoever starts it) and must all share the lock; with the
// default security a mutex the system made would be closed to the others, which would then run
// unserialised. Null (the default security) when the descriptor cannot be built.
class MutexSecurity {
 public:
  MutexSecurity() {
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)",
                                                               SDDL_REVISION_1, &descriptor_, nullptr)) {
      attributes_.nLength = sizeof attributes_;
      attributes_.lpSecurityDescriptor = descriptor_;
      attributes_.bInheritHandle = FALSE;
    }
  }
  ~MutexSecurity() {
    if (descriptor_) ::LocalFree(descriptor_);
  }
  MutexSecurity(const MutexSecurity&) = delete;
  MutexSecurity& operator=(const MutexSecurity&) = delete;
  SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

std::unique_ptr<NamedMutex> OpenNamedMutex(const std::u16string& name) {
  MutexSecurity security;
  win32::UniqueHandle h(::CreateMutexW(security.get(), FALSE, win32::W(name.c_str())));
  // A mutex another user made may grant us only what waiting and releasing need.
  if (!h && ::GetLastError() == ERROR_ACCESS_DENIED)
    h.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, win32::W(name.c_str())));
  if (!h) return nullptr;  // the system has set the last error
  // Opening an existing mutex reports ERROR_ALREADY_EXISTS even though it succeeded.
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<Win32NamedMutex>(std::move(h));
}

}  // namespace plat
