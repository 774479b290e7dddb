// The COM runtime subset on Windows: the operating system's own functions behind our declarations,
// and instance creation from either the system's Mobile Broadband API or the registered simulated
// modem.
#include "common/simulated_modem.h"
#include "platform/com.h"
#include "platform/modem.h"
#include "platform/process.h"
#include "platform/text.h"
#include "win32/os.h"

namespace plat {

using win32::Os;
using win32::Ours;
using win32::W;

// ---- Task memory ---------------------------------------------------------------------------------

void* CoTaskMemAlloc(std::size_t bytes) { return ::CoTaskMemAlloc(bytes); }
void CoTaskMemFree(void* p) { ::CoTaskMemFree(p); }

// ---- BSTR ------------------------------------------------------------------------------------------

BSTR SysAllocString(const char16_t* text) { return win32::U(::SysAllocString(W(text))); }
BSTR SysAllocStringLen(const char16_t* text, UINT length) {
  return win32::U(::SysAllocStringLen(W(text), length));
}
void SysFreeString(BSTR s) { ::SysFreeString(W(s)); }
UINT SysStringLen(BSTR s) { return ::SysStringLen(W(s)); }

// ---- SAFEARRAY -------------------------------------------------------------------------------------

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  return Ours(::SafeArrayCreate(vt, cDims, reinterpret_cast<::SAFEARRAYBOUND*>(rgsabound)));
}
HRESULT SafeArrayDestroy(SAFEARRAY* psa) { return ::SafeArrayDestroy(Os(psa)); }
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  return ::SafeArrayPutElement(Os(psa), reinterpret_cast<::LONG*>(rgIndices), pv);
}
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  return ::SafeArrayGetElement(Os(psa), reinterpret_cast<::LONG*>(rgIndices), pv);
}
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  return ::SafeArrayGetLBound(Os(psa), nDim, reinterpret_cast<::LONG*>(plLbound));
}
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  return ::SafeArrayGetUBound(Os(psa), nDim, reinterpret_cast<::LONG*>(plUbound));
}
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) { return ::SafeArrayAccessData(Os(psa), ppvData); }
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return ::SafeArrayUnaccessData(Os(psa)); }
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) { return ::SafeArrayGetVartype(Os(psa), pvt); }

// ---- Apartments ------------------------------------------------------------------------------------

HRESULT CoInitializeEx(void* reserved, DWORD coinit) { return ::CoInitializeEx(reserved, coinit); }
void CoUninitialize() { ::CoUninitialize(); }

// ---- Instance creation ------------------------------------------------------------------------------

ModemKind SelectedModem() {
  const auto v = GetEnv("TXL_MODEM");
  return v && EqualsIgnoreCaseAscii(*v, "sim") ? ModemKind::kSimulated : ModemKind::kOs;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID iid, void** ppv) {
  if (SelectedModem() == ModemKind::kOs)
    return ::CoCreateInstance(Os(clsid), reinterpret_cast<::IUnknown*>(outer), clsctx, Os(iid), ppv);

  // The simulated modem answers as the system would, including to a thread that never entered
  // an apartment. A thread of a process that has a multithreaded apartment is implicitly in it.
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  if (::CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED) return CO_E_NOTINITIALIZED;
  return simulated::CreateInstance(clsid, iid, ppv);
}

}  // namespace plat
