// The subset of COM the suite uses: GUIDs, IUnknown, BSTR, one-dimensional SAFEARRAYs, apartments,
// instance creation and connection points.
//
// The declarations are binary-compatible with Windows' own (same layouts, same vtable order, same
// calling convention), so on Windows an interface pointer obtained from the operating system is
// used through them unchanged. On POSIX the functions are implemented by the posix backend and the
// objects come from the simulated notebook.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/types.h"
#include "platform/unique.h"

#if defined(_WIN32)
#define TXL_STDCALL __stdcall
#else
#define TXL_STDCALL
#endif

namespace plat {

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr GUID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A,
                                              {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// Interfaces carry their IID as a static member so that ComPtr can query for them; a static
// member does not change the object layout.
struct IUnknown {
  static constexpr const GUID& kIid = IID_IUnknown;
  virtual HRESULT TXL_STDCALL QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG TXL_STDCALL AddRef() = 0;
  virtual ULONG TXL_STDCALL Release() = 0;

 protected:
  ~IUnknown() = default;  // never deleted through the interface; Release owns lifetime
};

inline constexpr GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                           {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// What an in-process server hands the system for each class it serves.
struct IClassFactory : IUnknown {
  static constexpr const GUID& kIid = IID_IClassFactory;
  virtual HRESULT TXL_STDCALL CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT TXL_STDCALL LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

// ---- GUID text -------------------------------------------------------------------------------

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case (38 characters), as StringFromGUID2 gives.
std::u16string GuidToString(const GUID& g);
// Parses the braced form, any letter case. Returns false for anything else.
bool GuidFromString(std::u16string_view text, GUID* out);

// A GUID as MBIM carries it on the wire: sixteen bytes in the order its text form reads, unlike the
// GUID structure, whose first three fields are little-endian in memory.
using GuidBytes = std::array<std::uint8_t, 16>;
GuidBytes GuidToBytes(const GUID& g);
GUID GuidFromBytes(std::span<const std::uint8_t, 16> bytes);

// The COM runtime's own entry points, with their Windows results.
HRESULT IIDFromString(const char16_t* text, IID* out);           // E_INVALIDARG on bad text
HRESULT CLSIDFromString(const char16_t* text, CLSID* out);       // CO_E_CLASSSTRING on bad text
HRESULT StringFromIID(REFIID iid, char16_t** out);              // free with CoTaskMemFree
int StringFromGUID2(REFIID guid, char16_t* buffer, int capacity);  // characters incl. NUL, 0 if short
void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* p);

// ---- BSTR --------------------------------------------------------------------------------------

using BSTR = char16_t*;
BSTR SysAllocString(const char16_t* text);
BSTR SysAllocStringLen(const char16_t* text, UINT length);
void SysFreeString(BSTR s);
UINT SysStringLen(BSTR s);

struct BstrTraits {
  static BSTR None() { return nullptr; }
  static bool IsNone(BSTR s) { return s == nullptr; }
  static void Close(BSTR s) { SysFreeString(s); }
};

// Owns one BSTR.
class BStr : public UniqueResource<BSTR, BstrTraits> {
 public:
  BStr() = default;
  explicit BStr(const char16_t* text) : UniqueResource(text ? SysAllocString(text) : nullptr) {}
  explicit BStr(std::u16string_view text)
      : UniqueResource(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  std::u16string str() const { return get() ? std::u16string(get(), SysStringLen(get())) : std::u16string(); }
};

// ---- SAFEARRAY ---------------------------------------------------------------------------------

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI4 = 19;

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// Windows' layout, so that an array handed over by the operating system is read in place.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_BSTR = 0x0100;

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);

struct SafeArrayTraits {
  static SAFEARRAY* None() { return nullptr; }
  static bool IsNone(SAFEARRAY* a) { return a == nullptr; }
  static void Close(SAFEARRAY* a) { SafeArrayDestroy(a); }
};

// Owns one SAFEARRAY (destroyed, with the references or strings it holds, on scope exit).
using UniqueSafeArray = UniqueResource<SAFEARRAY*, SafeArrayTraits>;

// Builds a one-dimensional VT_UI1 array with lower bound 0 holding the bytes (zeros for null
// data). E_OUTOFMEMORY when it cannot be created, the failing put's result when it cannot be filled.
HRESULT CreateByteArray(const BYTE* data, ULONG count, UniqueSafeArray* out);
// The same, null on failure.
SAFEARRAY* MakeByteArray(const BYTE* data, ULONG count);
// The bytes of a one-dimensional VT_UI1 array, lower to upper bound (none for a null array or an
// empty one). E_INVALIDARG, with *out emptied, for any other array or one whose bounds or data
// cannot be had.
HRESULT ReadByteArray(SAFEARRAY* array, std::vector<BYTE>* out);

// ---- Apartments and instance creation ----------------------------------------------------------

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// S_OK for the first initialisation of the thread, S_FALSE when already initialised in the same
// model, RPC_E_CHANGED_MODE when the thread is in the other model.
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();

// Creates one of the four mobile-broadband classes, from the modem that TXL_MODEM selects
// ("sim": the simulated notebook; "os": the operating system's Mobile Broadband API).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID iid, void** ppv);

// ---- Connection points ---------------------------------------------------------------------------

struct IEnumConnections;
struct IEnumConnectionPoints;
struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
  static constexpr const GUID& kIid = IID_IConnectionPoint;
  virtual HRESULT TXL_STDCALL GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT TXL_STDCALL GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT TXL_STDCALL Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT TXL_STDCALL Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT TXL_STDCALL EnumConnections(IEnumConnections** ppEnum) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
  static constexpr const GUID& kIid = IID_IConnectionPointContainer;
  virtual HRESULT TXL_STDCALL EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT TXL_STDCALL FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

// ---- ComPtr ------------------------------------------------------------------------------------

// Holds one reference to a COM object.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Adopts an existing reference (no AddRef).
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Takes a new reference.
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& o) {
    if (o.p_) o.p_->AddRef();
    reset();
    p_ = o.p_;
    return *this;
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases what is held and returns the slot for an out parameter.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* detach() { return std::exchange(p_, nullptr); }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }

  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(U::kIid, out->put_void());
  }

 private:
  T* p_ = nullptr;
};

// A reference count for objects that implement interfaces.
class RefCount {
 public:
  ULONG Inc() { return n_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Dec() { return n_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  ULONG Get() const { return n_.load(std::memory_order_acquire); }

 private:
  std::atomic<ULONG> n_{1};
};

}  // namespace plat
