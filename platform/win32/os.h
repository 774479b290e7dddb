// The Windows SDK, for the win32 backend only.
//
// The SDK defines S_OK, E_FAIL, ERROR_*, WAIT_*, TRUE, FALSE... as macros, while our platform
// headers declare constants of the same names in namespace plat. Those declarations survive only if
// they are parsed before the macros exist, so every win32 translation unit includes the platform
// headers it needs first and this file after them. From here on the macros are in force, which is
// harmless because they expand to the same values.
#pragma once

#if !defined(TXL_PLATFORM_TYPES_INCLUDED)
#error "include the platform headers (platform/types.h at least) before platform/win32/os.h"
#endif

// The layout checks below need our COM declarations; like every platform header they go first.
#include "platform/com.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>

// Beware: from here on `small`, `near`, `far` and `interface` are macros of the SDK too.

#include <cstddef>

namespace plat::win32 {

// Our wide text is char16_t; the SDK's is wchar_t. Both are UTF-16 code units on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* W(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }
inline const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }
inline char16_t* U(wchar_t* s) { return reinterpret_cast<char16_t*>(s); }

// The casts between our COM declarations and the SDK's rely on identical layouts.
static_assert(sizeof(plat::GUID) == sizeof(::GUID));
static_assert(sizeof(plat::SAFEARRAYBOUND) == sizeof(::SAFEARRAYBOUND));
static_assert(sizeof(plat::SAFEARRAY) == sizeof(::SAFEARRAY));
static_assert(offsetof(plat::SAFEARRAY, cbElements) == offsetof(::SAFEARRAY, cbElements));
static_assert(offsetof(plat::SAFEARRAY, cLocks) == offsetof(::SAFEARRAY, cLocks));
static_assert(offsetof(plat::SAFEARRAY, pvData) == offsetof(::SAFEARRAY, pvData));
static_assert(offsetof(plat::SAFEARRAY, rgsabound) == offsetof(::SAFEARRAY, rgsabound));
static_assert(sizeof(plat::LONG) == sizeof(::LONG) && sizeof(plat::ULONG) == sizeof(::ULONG));
static_assert(sizeof(plat::DWORD) == sizeof(::DWORD) && sizeof(plat::HRESULT) == sizeof(::HRESULT));

inline const ::GUID& Os(const plat::GUID& g) { return reinterpret_cast<const ::GUID&>(g); }
inline ::SAFEARRAY* Os(plat::SAFEARRAY* a) { return reinterpret_cast<::SAFEARRAY*>(a); }
inline plat::SAFEARRAY* Ours(::SAFEARRAY* a) { return reinterpret_cast<plat::SAFEARRAY*>(a); }

// Owns one kernel handle (closed on scope exit). Functions that report failure with
// INVALID_HANDLE_VALUE and those that report it with null both end up as an empty holder.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.h_;
      o.h_ = nullptr;
    }
    return *this;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset() {
    if (h_) {
      // Closing must not clobber the error a failed call left for our caller.
      const ::DWORD saved = ::GetLastError();
      ::CloseHandle(h_);
      ::SetLastError(saved);
      h_ = nullptr;
    }
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace plat::win32
