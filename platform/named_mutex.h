// A mutex that every process of the machine shares by name, with the semantics of a Windows
// mutex: it belongs to the thread that acquired it, that thread may acquire it again (and must
// release it as often), other threads and processes wait, and a holder that dies gives it up.
#pragma once

#include <memory>
#include <string>

#include "platform/sync.h"
#include "platform/types.h"

namespace plat {

inline constexpr DWORD ERROR_NOT_OWNER = 288;

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // Waits without time limit. WAIT_OBJECT_0 once the calling thread owns the mutex (also when the
  // previous owner died holding it), WAIT_FAILED (last error set) on failure.
  virtual DWORD Wait() = 0;
  // Gives up one acquisition. False (ERROR_NOT_OWNER) when the calling thread does not own it.
  virtual bool Release() = 0;
};

// Creates the mutex or opens the existing one of that name, not owned by the caller. Every
// handle of one name, in this process or another, refers to the same mutex. Null (last error set)
// on failure.
std::unique_ptr<NamedMutex> OpenNamedMutex(const std::u16string& name);

}  // namespace plat
