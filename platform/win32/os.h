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
#include "platform/unique.h"

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

// What stands for "no handle" in a kind of handle: null, INVALID_HANDLE_VALUE, or (kernel handles,
// whose functions report failure either way) both, kept as null.
enum class NoHandle { kNull, kInvalidValue, kNullOrInvalidValue };

// The traits of one kind of handle, configured by its close function and its "no handle" value.
// Closing never clobbers the error a failed call left for our caller: why something failed is
// what the caller reads next.
template <class T, auto CloseFunction, NoHandle kNone>
struct HandleTraits {
  static T None() {
    if constexpr (kNone == NoHandle::kInvalidValue) return reinterpret_cast<T>(INVALID_HANDLE_VALUE);
    else return nullptr;
  }
  static bool IsNone(T h) {
    const bool is_null = h == nullptr;
    const bool is_invalid = reinterpret_cast<HANDLE>(h) == INVALID_HANDLE_VALUE;
    if constexpr (kNone == NoHandle::kNull) return is_null;
    else if constexpr (kNone == NoHandle::kInvalidValue) return is_invalid;
    else return is_null || is_invalid;
  }
  static void Close(T h) {
    const ::DWORD saved = ::GetLastError();
    CloseFunction(h);
    ::SetLastError(saved);
  }
};

// Owns one handle of any kind: closed on scope exit, on every path.
template <class T, auto Close, NoHandle kNone = NoHandle::kNull>
using UniqueAny = plat::UniqueResource<T, HandleTraits<T, Close, kNone>>;

// The kinds of handle the backend holds; each file that needs another kind adds its alias beside
// the header that declares it.
using UniqueHandle = UniqueAny<HANDLE, &::CloseHandle, NoHandle::kNullOrInvalidValue>;  // kernel objects, files
using UniqueFindHandle = UniqueAny<HANDLE, &::FindClose, NoHandle::kInvalidValue>;      // a directory search
using UniqueHkey = UniqueAny<HKEY, &::RegCloseKey>;                                     // an open registry key
using UniqueScHandle = UniqueAny<SC_HANDLE, &::CloseServiceHandle>;                     // a service or its manager
using UniqueHmodule = UniqueAny<HMODULE, &::FreeLibrary>;                               // a loaded library

}  // namespace plat::win32
