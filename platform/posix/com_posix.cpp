// The COM runtime subset on POSIX: BSTRs and SAFEARRAYs laid out as Windows lays them out,
// per-thread apartments, and instance creation from the registered simulated modem.
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/simulated_modem.h"
#include "platform/posix/mbim/os_modem.h"
#include "platform/com.h"
#include "platform/modem.h"
#include "platform/process.h"
#include "platform/text.h"

namespace plat {

// ---- Task memory ---------------------------------------------------------------------------------

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void CoTaskMemFree(void* p) { std::free(p); }

// ---- BSTR: a 32-bit byte length, the characters, a terminating NUL ------------------------------

BSTR SysAllocStringLen(const char16_t* text, UINT length) {
  const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(char16_t);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(char16_t)));
  if (!block) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* s = reinterpret_cast<char16_t*>(block + sizeof(std::uint32_t));
  if (text) std::memcpy(s, text, bytes);
  else std::memset(s, 0, bytes);
  s[length] = u'\0';
  return s;
}

BSTR SysAllocString(const char16_t* text) {
  if (!text) return nullptr;
  UINT n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<unsigned char*>(s) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR s) {
  if (!s) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(s) - sizeof(std::uint32_t), sizeof bytes);
  return bytes / sizeof(char16_t);
}

// ---- SAFEARRAY (one dimension) -------------------------------------------------------------------

namespace {

// Windows keeps the element type just before the descriptor; so do we.
struct ArrayBlock {
  VARTYPE vt;
  SAFEARRAY sa;
};

ArrayBlock* BlockOf(SAFEARRAY* psa) {
  return reinterpret_cast<ArrayBlock*>(reinterpret_cast<unsigned char*>(psa) - offsetof(ArrayBlock, sa));
}

std::size_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1: return 1;
    case VT_UI4: return 4;
    case VT_UNKNOWN: return sizeof(IUnknown*);
    case VT_BSTR: return sizeof(BSTR);
    default: return 0;
  }
}

// Index of an element, or -1 when out of bounds.
long long Offset(SAFEARRAY* psa, LONG index) {
  const long long rel = static_cast<long long>(index) - psa->rgsabound[0].lLbound;
  if (rel < 0 || rel >= static_cast<long long>(psa->rgsabound[0].cElements)) return -1;
  return rel;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  const std::size_t size = ElementSize(vt);
  if (cDims != 1 || !rgsabound || size == 0) return nullptr;
  auto* block = new (std::nothrow) ArrayBlock{};
  if (!block) return nullptr;
  const std::size_t count = rgsabound[0].cElements;
  void* data = std::calloc(count ? count : 1, size);
  if (!data) {
    delete block;
    return nullptr;
  }
  block->vt = vt;
  SAFEARRAY& sa = block->sa;
  sa.cDims = 1;
  sa.fFeatures = static_cast<USHORT>(FADF_HAVEVARTYPE | (vt == VT_UNKNOWN ? FADF_UNKNOWN : 0) |
                                     (vt == VT_BSTR ? FADF_BSTR : 0));
  sa.cbElements = static_cast<ULONG>(size);
  sa.cLocks = 0;
  sa.pvData = data;
  sa.rgsabound[0] = rgsabound[0];
  return &sa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ArrayBlock* block = BlockOf(psa);
  const std::size_t count = psa->rgsabound[0].cElements;
  if (block->vt == VT_UNKNOWN) {
    auto** items = static_cast<IUnknown**>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i)
      if (items[i]) items[i]->Release();
  } else if (block->vt == VT_BSTR) {
    auto** items = static_cast<BSTR*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) SysFreeString(items[i]);
  }
  std::free(psa->pvData);
  delete block;
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices) return E_INVALIDARG;
  const long long at = Offset(psa, rgIndices[0]);
  if (at < 0) return DISP_E_BADINDEX;
  auto* base = static_cast<unsigned char*>(psa->pvData) + at * psa->cbElements;
  switch (BlockOf(psa)->vt) {
    case VT_UNKNOWN: {
      auto* item = static_cast<IUnknown*>(pv);
      if (item) item->AddRef();
      auto** slot = reinterpret_cast<IUnknown**>(base);
      if (*slot) (*slot)->Release();
      *slot = item;
      return S_OK;
    }
    case VT_BSTR: {
      auto** slot = reinterpret_cast<BSTR*>(base);
      BSTR copy = nullptr;
      if (pv) {
        auto src = static_cast<BSTR>(pv);
        copy = SysAllocStringLen(src, SysStringLen(src));
        if (!copy) return E_OUTOFMEMORY;
      }
      SysFreeString(*slot);
      *slot = copy;
      return S_OK;
    }
    default:
      if (!pv) return E_INVALIDARG;
      std::memcpy(base, pv, psa->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  const long long at = Offset(psa, rgIndices[0]);
  if (at < 0) return DISP_E_BADINDEX;
  auto* base = static_cast<unsigned char*>(psa->pvData) + at * psa->cbElements;
  switch (BlockOf(psa)->vt) {
    case VT_UNKNOWN: {
      IUnknown* item = *reinterpret_cast<IUnknown**>(base);
      if (item) item->AddRef();
      *static_cast<IUnknown**>(pv) = item;
      return S_OK;
    }
    case VT_BSTR: {
      BSTR src = *reinterpret_cast<BSTR*>(base);
      BSTR copy = src ? SysAllocStringLen(src, SysStringLen(src)) : nullptr;
      if (src && !copy) return E_OUTOFMEMORY;
      *static_cast<BSTR*>(pv) = copy;
      return S_OK;
    }
    default:
      std::memcpy(pv, base, psa->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plUbound = static_cast<LONG>(static_cast<long long>(psa->rgsabound[0].lLbound) +
                                static_cast<long long>(psa->rgsabound[0].cElements) - 1);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = BlockOf(psa)->vt;
  return S_OK;
}

// ---- Apartments ------------------------------------------------------------------------------------

namespace {
thread_local int t_model = -1;  // -1 uninitialised, else the COINIT value the thread entered with
thread_local int t_inits = 0;
}  // namespace

HRESULT CoInitializeEx(void*, DWORD coinit) {
  const int model = (coinit & COINIT_APARTMENTTHREADED) ? static_cast<int>(COINIT_APARTMENTTHREADED)
                                                        : static_cast<int>(COINIT_MULTITHREADED);
  if (t_inits > 0 && t_model != model) return RPC_E_CHANGED_MODE;
  const bool first = t_inits == 0;
  t_model = model;
  ++t_inits;
  return first ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_inits > 0 && --t_inits == 0) t_model = -1;
}

// ---- Instance creation ------------------------------------------------------------------------------

// The simulated notebook unless TXL_MODEM=os asks for the system's MBIM devices.
ModemKind SelectedModem() {
  const auto v = GetEnv("TXL_MODEM");
  return v && EqualsIgnoreCaseAscii(*v, "os") ? ModemKind::kOs : ModemKind::kSimulated;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (t_inits == 0) return CO_E_NOTINITIALIZED;
  if (SelectedModem() == ModemKind::kOs) return mbim_os::CreateInstance(clsid, iid, ppv);
  return simulated::CreateInstance(clsid, iid, ppv);
}

}  // namespace plat
