// The interface manager and interfaces of the simulated stack, as modem.ini shapes them.
#include "platform/text.h"
#include "sim/modem_config.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

class InterfaceTest : public SimTest {
 protected:
  // The interfaces GetInterfaces lists.
  std::vector<plat::ComPtr<plat::IMbnInterface>> List() {
    auto manager = Create<plat::IMbnInterfaceManager>(plat::CLSID_MbnInterfaceManager);
    plat::UniqueSafeArray array;
    EXPECT_EQ(plat::S_OK, manager->GetInterfaces(array.put()));
    std::vector<plat::ComPtr<plat::IMbnInterface>> out;
    if (!array) return out;
    plat::VARTYPE vt = 0;
    EXPECT_EQ(plat::S_OK, plat::SafeArrayGetVartype(array.get(), &vt));
    EXPECT_EQ(plat::VT_UNKNOWN, vt);
    for (plat::ULONG i = 0; i < array.get()->rgsabound[0].cElements; ++i) {
      plat::LONG index = static_cast<plat::LONG>(i);
      plat::ComPtr<plat::IUnknown> unk;
      EXPECT_EQ(plat::S_OK, plat::SafeArrayGetElement(array.get(), &index, unk.put()));
      plat::ComPtr<plat::IMbnInterface> iface;
      EXPECT_EQ(plat::S_OK, unk.As(&iface));
      out.push_back(iface);
    }
    return out;
  }
  static std::u16string Id(plat::IMbnInterface* iface) {
    plat::BStr id;
    EXPECT_EQ(plat::S_OK, iface->get_InterfaceID(id.put()));
    return id.str();
  }
};

std::string Str(plat::BSTR s) { return s ? plat::Utf16ToUtf8(std::u16string(s, plat::SysStringLen(s))) : "<null>"; }

TEST_F(InterfaceTest, DefaultNotebookHasOneInitialisedOspreyInterface) {
  const auto ifaces = List();
  ASSERT_EQ(1u, ifaces.size());
  EXPECT_EQ(sim::InterfaceId(0), Id(ifaces[0].get()));
  plat::MBN_READY_STATE state{};
  EXPECT_EQ(plat::S_OK, ifaces[0]->GetReadyState(&state));
  EXPECT_EQ(plat::MBN_READY_STATE_INITIALIZED, state);

  plat::MBN_INTERFACE_CAPS caps{};
  ASSERT_EQ(plat::S_OK, ifaces[0]->GetInterfaceCapability(&caps));
  const std::string firmware = Str(caps.firmwareInfo);
  EXPECT_EQ("Osprey LTE Module", Str(caps.model));
  EXPECT_EQ(15u, Str(caps.deviceID).size());
  EXPECT_EQ(std::string::npos, Str(caps.deviceID).find_first_not_of("0123456789"));
  // The firmware gate of the suite: "01" before the last dot and at least 13 after it.
  const auto dot = firmware.rfind('.');
  ASSERT_NE(std::string::npos, dot);
  ASSERT_GE(dot, 2u);
  EXPECT_EQ("01", firmware.substr(dot - 2, 2));
  EXPECT_GE(std::stoi(firmware.substr(dot + 1)), 13);
  EXPECT_NE(0u, caps.dataClass & plat::MBN_DATA_CLASS_LTE);
  EXPECT_EQ(nullptr, caps.customDataClass);
  EXPECT_NE(nullptr, caps.manufacturer);
  plat::FreeInterfaceCaps(&caps);

  plat::ComPtr<plat::IMbnSubscriberInformation> subscriber;
  ASSERT_EQ(plat::S_OK, ifaces[0]->GetSubscriberInformation(subscriber.put()));
  plat::BStr iccid;
  EXPECT_EQ(plat::S_OK, subscriber->get_SimIccID(iccid.put()));
  EXPECT_FALSE(iccid.str().empty());
}

TEST_F(InterfaceTest, PartialIniOverridesOnlyItsKeys) {
  WriteIni("[module]\nfamily=kestrel\nimei=490154203237518\ncustom_data_class=MyClass\nready_state=2\n");
  const auto ifaces = List();
  ASSERT_EQ(1u, ifaces.size());
  plat::MBN_INTERFACE_CAPS caps{};
  ASSERT_EQ(plat::S_OK, ifaces[0]->GetInterfaceCapability(&caps));
  EXPECT_EQ("Kestrel LTE Module", Str(caps.model));  // the kestrel default, not osprey's
  EXPECT_EQ(sim::DefaultModemConfig(sim::ModemFamily::kKestrel).firmware, Str(caps.firmwareInfo));
  EXPECT_EQ("490154203237518", Str(caps.deviceID));
  EXPECT_EQ("MyClass", Str(caps.customDataClass));
  EXPECT_NE(0u, caps.dataClass & plat::MBN_DATA_CLASS_CUSTOM);
  plat::FreeInterfaceCaps(&caps);
  plat::MBN_READY_STATE state{};
  EXPECT_EQ(plat::S_OK, ifaces[0]->GetReadyState(&state));
  EXPECT_EQ(plat::MBN_READY_STATE_SIM_NOT_INSERTED, state);
}

TEST_F(InterfaceTest, InterfaceCountsAndIds) {
  WriteIni("[module]\ninterfaces=0\n");
  EXPECT_TRUE(List().empty());

  WriteIni("[module]\ninterfaces=2\n");
  const auto ifaces = List();
  ASSERT_EQ(2u, ifaces.size());
  const std::u16string first = Id(ifaces[0].get());
  const std::u16string second = Id(ifaces[1].get());
  EXPECT_NE(first, second);
  EXPECT_EQ(sim::InterfaceId(1), second);
  for (const auto& id : {first, second}) {
    plat::GUID g{};
    EXPECT_TRUE(plat::GuidFromString(id, &g));
    EXPECT_EQ(plat::GuidToString(g), id);  // braced and upper case
  }
  // GetInterface finds each by id whatever its letter case, and nothing else.
  auto manager = Create<plat::IMbnInterfaceManager>(plat::CLSID_MbnInterfaceManager);
  std::u16string lower = second;
  for (auto& c : lower) c = plat::AsciiLower(c);
  plat::ComPtr<plat::IMbnInterface> found;
  ASSERT_EQ(plat::S_OK, manager->GetInterface(lower.c_str(), found.put()));
  EXPECT_EQ(second, Id(found.get()));
  EXPECT_EQ(sim::kNotFound, manager->GetInterface(sim::InterfaceId(2).c_str(), found.put()));
}

TEST_F(InterfaceTest, GetInterfacesFault) {
  WriteIni("[faults]\nget_interfaces=0x80004005\n");
  auto manager = Create<plat::IMbnInterfaceManager>(plat::CLSID_MbnInterfaceManager);
  plat::SAFEARRAY stale{};
  plat::SAFEARRAY* array = &stale;  // must be cleared
  EXPECT_EQ(plat::E_FAIL, manager->GetInterfaces(&array));
  EXPECT_EQ(nullptr, array);
}

TEST_F(InterfaceTest, ConfigIsReadWhenAManagerIsCreated) {
  auto before = Create<plat::IMbnInterfaceManager>(plat::CLSID_MbnInterfaceManager);
  WriteIni("[module]\ninterfaces=3\n");
  plat::UniqueSafeArray array;
  ASSERT_EQ(plat::S_OK, before->GetInterfaces(array.put()));
  EXPECT_EQ(1u, array.get()->rgsabound[0].cElements);  // the manager keeps the modem it was made with
  EXPECT_EQ(3u, List().size());
}

TEST_F(InterfaceTest, EveryClassIsAConnectionPointContainer) {
  for (const plat::CLSID& clsid : {plat::CLSID_MbnInterfaceManager, plat::CLSID_MbnDeviceServicesManager,
                                   plat::CLSID_MbnConnectionManager, plat::CLSID_MbnConnectionProfileManager}) {
    plat::ComPtr<plat::IConnectionPointContainer> container;
    EXPECT_EQ(plat::S_OK, sim::CreateMbnInstance(clsid, plat::IID_IConnectionPointContainer, container.put_void()));
    plat::ComPtr<plat::IMbnDeviceService> wrong;
    EXPECT_EQ(plat::E_NOINTERFACE, container.As(&wrong));
  }
  void* p = nullptr;
  EXPECT_EQ(plat::REGDB_E_CLASSNOTREG, sim::CreateMbnInstance(plat::IID_IUnknown, plat::IID_IUnknown, &p));
}

}  // namespace
}  // namespace simtest
