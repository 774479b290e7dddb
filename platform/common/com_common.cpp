// COM helpers that are the same on every platform: GUID text, byte arrays, capability records.
#include <cstring>

#include "platform/com.h"
#include "platform/mbn.h"
#include "platform/scope_exit.h"
#include "platform/text.h"

namespace plat {

namespace {

bool ParseHex(std::u16string_view s, std::size_t pos, std::size_t digits, std::uint64_t* out) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int h = HexDigitValue(s[pos + i]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<std::uint64_t>(h);
  }
  *out = v;
  return true;
}

}  // namespace

std::u16string GuidToString(const GUID& g) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string s;
  s.reserve(38);
  auto put = [&](std::uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) s.push_back(kHex[(v >> (4 * i)) & 0xF]);
  };
  s.push_back(u'{');
  put(g.Data1, 8);
  s.push_back(u'-');
  put(g.Data2, 4);
  s.push_back(u'-');
  put(g.Data3, 4);
  s.push_back(u'-');
  put(g.Data4[0], 2);
  put(g.Data4[1], 2);
  s.push_back(u'-');
  for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
  s.push_back(u'}');
  return s;
}

bool GuidFromString(std::u16string_view s, GUID* out) {
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' ||
      s[24] != u'-')
    return false;
  GUID g{};
  std::uint64_t v = 0;
  if (!ParseHex(s, 1, 8, &v)) return false;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!ParseHex(s, 10, 4, &v)) return false;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ParseHex(s, 15, 4, &v)) return false;
  g.Data3 = static_cast<std::uint16_t>(v);
  for (int i = 0; i < 2; ++i) {
    if (!ParseHex(s, 20 + 2 * i, 2, &v)) return false;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  for (int i = 0; i < 6; ++i) {
    if (!ParseHex(s, 25 + 2 * i, 2, &v)) return false;
    g.Data4[2 + i] = static_cast<std::uint8_t>(v);
  }
  if (out) *out = g;
  return true;
}

GuidBytes GuidToBytes(const GUID& g) {
  GuidBytes b{};
  for (std::size_t i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(g.Data1 >> (24 - 8 * i));
  b[4] = static_cast<std::uint8_t>(g.Data2 >> 8);
  b[5] = static_cast<std::uint8_t>(g.Data2);
  b[6] = static_cast<std::uint8_t>(g.Data3 >> 8);
  b[7] = static_cast<std::uint8_t>(g.Data3);
  std::memcpy(b.data() + 8, g.Data4, 8);
  return b;
}

GUID GuidFromBytes(std::span<const std::uint8_t, 16> b) {
  GUID g{};
  g.Data1 = static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
            static_cast<std::uint32_t>(b[2]) << 8 | b[3];
  g.Data2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
  g.Data3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
  std::memcpy(g.Data4, b.data() + 8, 8);
  return g;
}

HRESULT IIDFromString(const char16_t* text, IID* out) {
  if (!out) return E_INVALIDARG;
  if (!text) {
    *out = GUID{};
    return S_OK;  // as Windows: a null string is the null GUID
  }
  std::size_t n = 0;
  while (text[n] && n < 39) ++n;
  return GuidFromString(std::u16string_view(text, n), out) ? S_OK : E_INVALIDARG;
}

HRESULT CLSIDFromString(const char16_t* text, CLSID* out) {
  const HRESULT hr = IIDFromString(text, out);
  return hr == E_INVALIDARG ? CO_E_CLASSSTRING : hr;
}

HRESULT StringFromIID(REFIID iid, char16_t** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  const std::u16string s = GuidToString(iid);
  auto* mem = static_cast<char16_t*>(CoTaskMemAlloc((s.size() + 1) * sizeof(char16_t)));
  if (!mem) return E_OUTOFMEMORY;
  std::memcpy(mem, s.c_str(), (s.size() + 1) * sizeof(char16_t));
  *out = mem;
  return S_OK;
}

int StringFromGUID2(REFIID guid, char16_t* buffer, int capacity) {
  const std::u16string s = GuidToString(guid);
  if (!buffer || capacity < static_cast<int>(s.size()) + 1) return 0;
  std::memcpy(buffer, s.c_str(), (s.size() + 1) * sizeof(char16_t));
  return static_cast<int>(s.size()) + 1;
}

HRESULT CreateByteArray(const BYTE* data, ULONG count, UniqueSafeArray* out) {
  SAFEARRAYBOUND bound{count, 0};
  UniqueSafeArray sa(SafeArrayCreate(VT_UI1, 1, &bound));
  if (!sa) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < count; ++i) {
    LONG index = static_cast<LONG>(i);
    BYTE b = data ? data[i] : 0;
    if (const HRESULT hr = SafeArrayPutElement(sa.get(), &index, &b); Failed(hr)) return hr;
  }
  *out = std::move(sa);
  return S_OK;
}

SAFEARRAY* MakeByteArray(const BYTE* data, ULONG count) {
  UniqueSafeArray sa;
  return Succeeded(CreateByteArray(data, count, &sa)) ? sa.release() : nullptr;
}

HRESULT ReadByteArray(SAFEARRAY* array, std::vector<BYTE>* out) {
  out->clear();
  if (!array) return S_OK;
  VARTYPE vt = VT_EMPTY;
  if (Failed(SafeArrayGetVartype(array, &vt)) || vt != VT_UI1 || array->cDims != 1) return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = -1;
  if (Failed(SafeArrayGetLBound(array, 1, &lower)) || Failed(SafeArrayGetUBound(array, 1, &upper)))
    return E_INVALIDARG;
  // Counted wide: upper - lower + 1 does not fit a LONG for the extreme bounds.
  const long long count = static_cast<long long>(upper) - lower + 1;
  if (count <= 0) return S_OK;
  void* data = nullptr;
  if (Failed(SafeArrayAccessData(array, &data)) || !data) return E_INVALIDARG;
  // Unlocked on every way out, a failing allocation included.
  const ScopeExit unlock([array] { SafeArrayUnaccessData(array); });
  const auto* bytes = static_cast<const BYTE*>(data);
  out->assign(bytes, bytes + count);
  return S_OK;
}

void FreeInterfaceCaps(MBN_INTERFACE_CAPS* caps) {
  if (!caps) return;
  SysFreeString(caps->customDataClass);
  SysFreeString(caps->customBandClass);
  SysFreeString(caps->deviceID);
  SysFreeString(caps->manufacturer);
  SysFreeString(caps->model);
  SysFreeString(caps->firmwareInfo);
  *caps = MBN_INTERFACE_CAPS{};
}

}  // namespace plat
