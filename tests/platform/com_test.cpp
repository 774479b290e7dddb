#include "platform/com.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/bytes.h"
#include "platform/mbn.h"
#include "platform/modem.h"
#include "platform/process.h"
#include "platform/setup_api.h"
#include "platform/text.h"
#include "test_support.h"

namespace {

using plat::GUID;
using plat::HRESULT;

constexpr GUID kSample = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
constexpr char16_t kSampleText[] = u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

TEST(Guid, FormatsBracedUpperCase) {
  EXPECT_EQ(plat::GuidToString(kSample), kSampleText);
  EXPECT_EQ(plat::GuidToString(GUID{}), u"{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(plat::GuidToString(plat::IID_IConnectionPoint), u"{B196B286-BAB4-101A-B69C-00AA00341D07}");
}

TEST(Guid, ParsesAnyLetterCase) {
  for (const char16_t* text : {kSampleText, u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}",
                               u"{0A1b2C3d-4E5f-6071-8293-a4B5c6D7e8F9}"}) {
    GUID g{};
    ASSERT_TRUE(plat::GuidFromString(text, &g)) << plat::Utf16ToUtf8(text);
    EXPECT_EQ(g, kSample);
  }
  GUID g{};
  ASSERT_TRUE(plat::GuidFromString(plat::GuidToString(plat::CLSID_MbnInterfaceManager), &g));
  EXPECT_EQ(g, plat::CLSID_MbnInterfaceManager);
}

TEST(Guid, RejectsMalformedText) {
  const char16_t* bad[] = {
      u"",
      u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",      // no braces
      u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",     // no closing brace
      u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}x",   // trailing text
      u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}",     // one digit short
      u"{0A1B2C3D-4E5F-6071-8293A-4B5C6D7E8F9}",    // dash misplaced
      u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8G9}",    // not a hex digit
      u"{0A1B2C3D 4E5F-6071-8293-A4B5C6D7E8F9}",    // blank for a dash
      u"{+A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}",    // sign
  };
  for (const char16_t* text : bad) {
    GUID g = kSample;
    EXPECT_FALSE(plat::GuidFromString(text, &g)) << plat::Utf16ToUtf8(text);
    EXPECT_EQ(g, kSample) << "output touched for a rejected text";
    EXPECT_EQ(plat::IIDFromString(text, &g), plat::E_INVALIDARG);
    EXPECT_EQ(plat::CLSIDFromString(text, &g), plat::CO_E_CLASSSTRING);
  }
}

TEST(Guid, RuntimeEntryPoints) {
  GUID g{};
  EXPECT_EQ(plat::IIDFromString(kSampleText, &g), plat::S_OK);
  EXPECT_EQ(g, kSample);
  EXPECT_EQ(plat::CLSIDFromString(kSampleText, &g), plat::S_OK);
  EXPECT_EQ(plat::IIDFromString(kSampleText, nullptr), plat::E_INVALIDARG);
  // A null string is the null GUID.
  EXPECT_EQ(plat::IIDFromString(nullptr, &g), plat::S_OK);
  EXPECT_EQ(g, GUID{});

  char16_t* text = nullptr;
  ASSERT_EQ(plat::StringFromIID(kSample, &text), plat::S_OK);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), kSampleText);
  plat::CoTaskMemFree(text);
  EXPECT_EQ(plat::StringFromIID(kSample, nullptr), plat::E_INVALIDARG);

  char16_t buffer[39];
  EXPECT_EQ(plat::StringFromGUID2(kSample, buffer, 39), 39);
  EXPECT_EQ(std::u16string(buffer), kSampleText);
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(plat::StringFromGUID2(kSample, buffer, 38), 0);  // no room for the NUL
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(plat::StringFromGUID2(kSample, nullptr, 39), 0);
}

TEST(Bstr, KeepsItsLengthInFrontAndAllowsEmbeddedNul) {
  plat::BStr s(std::u16string_view(u"a\0bc", 4));
  ASSERT_NE(s.get(), nullptr);
  EXPECT_EQ(plat::SysStringLen(s.get()), 4u);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const unsigned char*>(s.get()) - sizeof prefix, sizeof prefix);
  EXPECT_EQ(prefix, 8u) << "the prefix counts bytes";
  EXPECT_EQ(s.get()[4], u'\0') << "terminated after the length";
  EXPECT_EQ(s.str(), std::u16string(u"a\0bc", 4));

  plat::BStr t(u"modem");
  EXPECT_EQ(plat::SysStringLen(t.get()), 5u);
  EXPECT_EQ(plat::SysStringLen(nullptr), 0u);
  EXPECT_EQ(plat::SysAllocString(nullptr), nullptr);

  // Allocated with room but no text: the characters are zero.
  plat::BSTR blank = plat::SysAllocStringLen(nullptr, 3);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(plat::SysStringLen(blank), 3u);
  EXPECT_EQ(std::u16string(blank, 3), std::u16string(3, u'\0'));
  plat::SysFreeString(blank);
  plat::SysFreeString(nullptr);

  plat::BStr moved(std::move(t));
  EXPECT_EQ(moved.str(), u"modem");
  EXPECT_EQ(t.get(), nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
}

TEST(SafeArray, OfBytes) {
  plat::SAFEARRAYBOUND bound{4, 10};
  plat::UniqueSafeArray sa(plat::SafeArrayCreate(plat::VT_UI1, 1, &bound));
  ASSERT_TRUE(sa);
  plat::VARTYPE vt = 0;
  EXPECT_EQ(plat::SafeArrayGetVartype(sa.get(), &vt), plat::S_OK);
  EXPECT_EQ(vt, plat::VT_UI1);
  EXPECT_EQ(sa.get()->cbElements, 1u);

  plat::LONG lo = 0, hi = 0;
  EXPECT_EQ(plat::SafeArrayGetLBound(sa.get(), 1, &lo), plat::S_OK);
  EXPECT_EQ(plat::SafeArrayGetUBound(sa.get(), 1, &hi), plat::S_OK);
  EXPECT_EQ(lo, 10);
  EXPECT_EQ(hi, 13);
  EXPECT_EQ(plat::SafeArrayGetLBound(sa.get(), 2, &lo), plat::DISP_E_BADINDEX);

  for (plat::LONG i = 10; i <= 13; ++i) {
    plat::BYTE b = static_cast<plat::BYTE>(0xA0 + i);
    EXPECT_EQ(plat::SafeArrayPutElement(sa.get(), &i, &b), plat::S_OK);
  }
  for (plat::LONG i : {9, 14, -1}) {
    plat::BYTE b = 0x55;
    EXPECT_EQ(plat::SafeArrayPutElement(sa.get(), &i, &b), plat::DISP_E_BADINDEX) << i;
    EXPECT_EQ(plat::SafeArrayGetElement(sa.get(), &i, &b), plat::DISP_E_BADINDEX) << i;
    EXPECT_EQ(b, 0x55);
  }
  plat::LONG at = 12;
  plat::BYTE got = 0;
  EXPECT_EQ(plat::SafeArrayGetElement(sa.get(), &at, &got), plat::S_OK);
  EXPECT_EQ(got, 0xA0 + 12);

  void* data = nullptr;
  ASSERT_EQ(plat::SafeArrayAccessData(sa.get(), &data), plat::S_OK);
  const auto* bytes = static_cast<const plat::BYTE*>(data);
  EXPECT_EQ(std::vector<plat::BYTE>(bytes, bytes + 4), (std::vector<plat::BYTE>{0xAA, 0xAB, 0xAC, 0xAD}));
  // A locked array is not destroyed under its reader.
  EXPECT_EQ(plat::SafeArrayDestroy(sa.get()), plat::DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(plat::SafeArrayUnaccessData(sa.get()), plat::S_OK);
}

TEST(SafeArray, MakeByteArrayCopiesFromIndexZero) {
  const plat::BYTE src[] = {1, 2, 3, 250};
  plat::UniqueSafeArray sa(plat::MakeByteArray(src, 4));
  ASSERT_TRUE(sa);
  plat::LONG lo = -1, hi = -1;
  plat::SafeArrayGetLBound(sa.get(), 1, &lo);
  plat::SafeArrayGetUBound(sa.get(), 1, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 3);
  void* data = nullptr;
  ASSERT_EQ(plat::SafeArrayAccessData(sa.get(), &data), plat::S_OK);
  EXPECT_EQ(std::memcmp(data, src, 4), 0);
  plat::SafeArrayUnaccessData(sa.get());

  plat::UniqueSafeArray empty(plat::MakeByteArray(nullptr, 0));
  ASSERT_TRUE(empty);
  plat::SafeArrayGetUBound(empty.get(), 1, &hi);
  EXPECT_EQ(hi, -1);

  // Read back: the bytes of a byte array, nothing (and a refusal) of anything else.
  std::vector<plat::BYTE> bytes = {9};
  EXPECT_EQ(plat::ReadByteArray(sa.get(), &bytes), plat::S_OK);
  EXPECT_EQ(bytes, (std::vector<plat::BYTE>{1, 2, 3, 250}));
  EXPECT_EQ(plat::ReadByteArray(empty.get(), &bytes), plat::S_OK);
  EXPECT_TRUE(bytes.empty());
  bytes = {9};
  EXPECT_EQ(plat::ReadByteArray(nullptr, &bytes), plat::S_OK);
  EXPECT_TRUE(bytes.empty());
  plat::SAFEARRAYBOUND bound{2, 0};
  plat::UniqueSafeArray words(plat::SafeArrayCreate(plat::VT_BSTR, 1, &bound));
  ASSERT_TRUE(words);
  bytes = {9};
  EXPECT_EQ(plat::ReadByteArray(words.get(), &bytes), plat::E_INVALIDARG);
  EXPECT_TRUE(bytes.empty());
}

TEST(Bytes, FieldsWithinTheSpanAndNeverPastIt) {
  const std::uint8_t raw[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF};
  const struct {
    const char* what;
    std::size_t at;
    int width;  // 8, 16 or 32
    std::uint32_t value;
    bool ok;
  } cases[] = {
      {"u8 first", 0, 8, 0x01, true},         {"u8 last", 5, 8, 0xFF, true},
      {"u8 past", 6, 8, 0, false},            {"u16 little-endian", 0, 16, 0x0201, true},
      {"u16 last", 4, 16, 0xFFFF, true},      {"u16 half past", 5, 16, 0, false},
      {"u32", 0, 32, 0x04030201, true},       {"u32 last", 2, 32, 0xFFFF0403, true},
      {"u32 one past", 3, 32, 0, false},      {"offset wraps", std::size_t(-1), 32, 0, false},
      {"offset far past", std::numeric_limits<std::size_t>::max() / 2, 16, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    plat::LeReader r(raw);
    const std::uint32_t v = c.width == 8 ? r.U8(c.at) : c.width == 16 ? r.U16(c.at) : r.U32(c.at);
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(r.ok(), c.ok);

    std::uint8_t out[6] = {};
    plat::LeWriter w(out);
    if (c.width == 8) w.U8(c.at, static_cast<std::uint8_t>(c.value));
    if (c.width == 16) w.U16(c.at, static_cast<std::uint16_t>(c.value));
    if (c.width == 32) w.U32(c.at, c.value);
    EXPECT_EQ(w.ok(), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::memcmp(out + c.at, raw + c.at, static_cast<std::size_t>(c.width / 8)), 0);
    } else {
      EXPECT_EQ(std::count(std::begin(out), std::end(out), 0), 6) << "nothing written";
    }
  }
  plat::LeReader sticky(raw);
  sticky.U16(10);
  EXPECT_EQ(sticky.U16(0), 0x0201);
  EXPECT_FALSE(sticky.ok()) << "a failed field keeps the reader failed";
  EXPECT_EQ(plat::ReadU32(raw, 2), std::optional<std::uint32_t>(0xFFFF0403u));
  EXPECT_EQ(plat::ReadU16(raw, 5), std::nullopt);
}

// An object that only counts its references.
class Counted final : public plat::IUnknown {
 public:
  plat::HRESULT TXL_STDCALL QueryInterface(plat::REFIID riid, void** ppv) override {
    if (riid != plat::IID_IUnknown) {
      *ppv = nullptr;
      return plat::E_NOINTERFACE;
    }
    AddRef();
    *ppv = this;
    return plat::S_OK;
  }
  plat::ULONG TXL_STDCALL AddRef() override { return ++refs; }
  plat::ULONG TXL_STDCALL Release() override { return --refs; }
  plat::ULONG refs = 1;
};

TEST(SafeArray, OfInterfacesHoldsReferences) {
  Counted a, b;
  {
    plat::SAFEARRAYBOUND bound{2, 0};
    plat::UniqueSafeArray sa(plat::SafeArrayCreate(plat::VT_UNKNOWN, 1, &bound));
    ASSERT_TRUE(sa);
    EXPECT_TRUE(sa.get()->fFeatures & plat::FADF_UNKNOWN);
    plat::LONG i0 = 0, i1 = 1;
    EXPECT_EQ(plat::SafeArrayPutElement(sa.get(), &i0, static_cast<plat::IUnknown*>(&a)), plat::S_OK);
    EXPECT_EQ(a.refs, 2u) << "put takes a reference";
    EXPECT_EQ(plat::SafeArrayPutElement(sa.get(), &i1, static_cast<plat::IUnknown*>(&a)), plat::S_OK);
    EXPECT_EQ(a.refs, 3u);
    // Replacing an element gives up the reference to the one it held.
    EXPECT_EQ(plat::SafeArrayPutElement(sa.get(), &i1, static_cast<plat::IUnknown*>(&b)), plat::S_OK);
    EXPECT_EQ(a.refs, 2u);
    EXPECT_EQ(b.refs, 2u);

    plat::IUnknown* got = nullptr;
    EXPECT_EQ(plat::SafeArrayGetElement(sa.get(), &i1, &got), plat::S_OK);
    EXPECT_EQ(got, &b);
    EXPECT_EQ(b.refs, 3u) << "get hands out a reference of the caller's own";
    got->Release();
  }
  EXPECT_EQ(a.refs, 1u) << "destroying the array releases what it held";
  EXPECT_EQ(b.refs, 1u);
}

TEST(SafeArray, OfStringsCopiesThem) {
  plat::SAFEARRAYBOUND bound{1, 0};
  plat::UniqueSafeArray sa(plat::SafeArrayCreate(plat::VT_BSTR, 1, &bound));
  ASSERT_TRUE(sa);
  plat::LONG i = 0;
  {
    plat::BStr s(u"LTE");
    EXPECT_EQ(plat::SafeArrayPutElement(sa.get(), &i, s.get()), plat::S_OK);
  }  // the array keeps its own copy
  plat::BStr out;
  EXPECT_EQ(plat::SafeArrayGetElement(sa.get(), &i, out.put()), plat::S_OK);
  EXPECT_EQ(out.str(), u"LTE");
}

TEST(Apartment, ResultsFollowTheThreadsModel) {
  std::thread([] {
    EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED), plat::S_OK);
    EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED), plat::S_FALSE);
    EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED), plat::RPC_E_CHANGED_MODE);

    // Another thread starts uninitialised and chooses its own model.
    std::thread([] {
      EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED), plat::S_OK);
      plat::CoUninitialize();
    }).join();

    plat::CoUninitialize();
    // Still initialised once: the model is kept.
    EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED), plat::RPC_E_CHANGED_MODE);
    plat::CoUninitialize();
    // Fully uninitialised: free to choose again.
    EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED), plat::S_OK);
    plat::CoUninitialize();
  }).join();
}

TEST(Apartment, CreationNeedsAnInitialisedThread) {
  txl_test::ScopedEnv modem("TXL_MODEM", "sim");
  std::thread([] {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, nullptr, plat::CLSCTX_ALL,
                                     plat::IID_IMbnInterfaceManager, &p),
              plat::CO_E_NOTINITIALIZED);
    EXPECT_EQ(p, nullptr) << "the out pointer is cleared on failure";
    EXPECT_EQ(plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, nullptr, plat::CLSCTX_ALL,
                                     plat::IID_IMbnInterfaceManager, nullptr),
              plat::E_POINTER);

    ASSERT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED), plat::S_OK);
    Counted outer;
    EXPECT_EQ(plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, &outer, plat::CLSCTX_ALL,
                                     plat::IID_IMbnInterfaceManager, &p),
              plat::CLASS_E_NOAGGREGATION);
    EXPECT_EQ(outer.refs, 1u);
    plat::CoUninitialize();
  }).join();
}

// A stand-in that answers so that its answer cannot be mistaken for the platform's own.
constexpr HRESULT kStandInAnswer = plat::Hr(0x8004A11Eu);
HRESULT StandInCreate(const GUID&, const GUID&, void** ppv) {
  *ppv = nullptr;
  return kStandInAnswer;
}
std::vector<std::string> StandInDevices() { return {"PCI\\VEN_1234&DEV_0001\\0"}; }

TEST(SimulatedModem, OnlyWhatIsRegisteredAnswers) {
  txl_test::ScopedEnv modem("TXL_MODEM", "sim");
  struct Row {
    const char* name;
    plat::SimulatedModem registered;
    HRESULT created;
    std::vector<std::string> devices;
  };
  const Row rows[] = {
      // A program that registers nothing (the service host) has no modem at all.
      {"nothing registered", {}, plat::REGDB_E_CLASSNOTREG, {}},
      {"a stand-in registered", {&StandInCreate, &StandInDevices}, kStandInAnswer, {"PCI\\VEN_1234&DEV_0001\\0"}},
      {"a factory without a device list", {&StandInCreate, nullptr}, kStandInAnswer, {}},
      // Registering again replaces the earlier one, emptiness included.
      {"registration withdrawn", {}, plat::REGDB_E_CLASSNOTREG, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    plat::RegisterSimulatedModem(row.registered);
    std::thread([&row] {
      ASSERT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED), plat::S_OK);
      void* p = reinterpret_cast<void*>(1);
      EXPECT_EQ(plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, nullptr, plat::CLSCTX_ALL,
                                       plat::IID_IMbnInterfaceManager, &p),
                row.created);
      EXPECT_EQ(p, nullptr);
      plat::CoUninitialize();
    }).join();
    const auto list = plat::OpenPresentDeviceList();
    ASSERT_NE(list, nullptr);
    std::vector<std::string> listed;
    std::string id;
    for (plat::DWORD i = 0; list->Exists(i); ++i) {
      ASSERT_TRUE(list->InstanceId(i, &id));
      listed.push_back(id);
    }
    EXPECT_EQ(listed, row.devices);
    plat::SetLastError(0);
    EXPECT_FALSE(list->InstanceId(static_cast<plat::DWORD>(listed.size()), &id));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_NO_MORE_ITEMS);
  }
  plat::RegisterSimulatedModem({});
}

}  // namespace
