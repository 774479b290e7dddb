// The vtable slot of every method the suite calls on the system's mobile-broadband objects, and of
// every callback the system makes on ours: a method declared out of order would call another
// method of the system's object (or be called for another event) with the wrong arguments.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "platform/com.h"
#include "platform/mbn.h"

namespace {

// The compiler's (Itanium C++ ABI) pointer to a virtual member function: 1 + the slot's byte
// offset in the vtable, and the this-adjustment.
struct MemberPointerBits {
  std::ptrdiff_t ptr;
  std::ptrdiff_t adj;
};

template <class F>
long Slot(F member) {
  static_assert(sizeof(F) == sizeof(MemberPointerBits));
  MemberPointerBits bits;
  std::memcpy(&bits, &member, sizeof bits);
  if ((bits.ptr & 1) == 0 || bits.adj != 0) return -1;  // not a virtual method of the first base
  return static_cast<long>((bits.ptr - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
}

struct Row {
  const char* method;
  long slot;
  long expected;
};

TEST(MbnSlots, MethodsTheSuiteCallsOrImplementSitWhereTheSystemHasThem) {
  using namespace plat;
  const Row rows[] = {
      {"IUnknown::QueryInterface", Slot(&IUnknown::QueryInterface), 0},
      {"IUnknown::Release", Slot(&IUnknown::Release), 2},
      {"IConnectionPointContainer::FindConnectionPoint", Slot(&IConnectionPointContainer::FindConnectionPoint), 4},
      {"IConnectionPoint::Advise", Slot(&IConnectionPoint::Advise), 5},
      {"IConnectionPoint::Unadvise", Slot(&IConnectionPoint::Unadvise), 6},
      {"IMbnInterfaceManager::GetInterface", Slot(&IMbnInterfaceManager::GetInterface), 3},
      {"IMbnInterfaceManager::GetInterfaces", Slot(&IMbnInterfaceManager::GetInterfaces), 4},
      {"IMbnInterface::get_InterfaceID", Slot(&IMbnInterface::get_InterfaceID), 3},
      {"IMbnInterface::GetInterfaceCapability", Slot(&IMbnInterface::GetInterfaceCapability), 4},
      {"IMbnInterface::GetSubscriberInformation", Slot(&IMbnInterface::GetSubscriberInformation), 5},
      {"IMbnInterface::GetReadyState", Slot(&IMbnInterface::GetReadyState), 6},
      {"IMbnInterface::GetConnection", Slot(&IMbnInterface::GetConnection), 13},
      {"IMbnSubscriberInformation::get_SimIccID", Slot(&IMbnSubscriberInformation::get_SimIccID), 4},
      {"IMbnDeviceServicesManager::GetDeviceServicesContext",
       Slot(&IMbnDeviceServicesManager::GetDeviceServicesContext), 3},
      {"IMbnDeviceServicesContext::GetDeviceService", Slot(&IMbnDeviceServicesContext::GetDeviceService), 4},
      {"IMbnDeviceServicesContext::get_MaxDataSize", Slot(&IMbnDeviceServicesContext::get_MaxDataSize), 6},
      {"IMbnDeviceService::OpenCommandSession", Slot(&IMbnDeviceService::OpenCommandSession), 4},
      {"IMbnDeviceService::CloseCommandSession", Slot(&IMbnDeviceService::CloseCommandSession), 5},
      {"IMbnDeviceService::SetCommand", Slot(&IMbnDeviceService::SetCommand), 6},
      {"IMbnDeviceService::QueryCommand", Slot(&IMbnDeviceService::QueryCommand), 7},
      {"IMbnDeviceService::get_DeviceServiceID", Slot(&IMbnDeviceService::get_DeviceServiceID), 12},
      {"IMbnDeviceService::get_IsCommandSessionOpen", Slot(&IMbnDeviceService::get_IsCommandSessionOpen), 13},
      {"IMbnDeviceService::get_IsDataSessionOpen", Slot(&IMbnDeviceService::get_IsDataSessionOpen), 14},
      // The callbacks the system makes on the suite's event sinks.
      {"IMbnDeviceServicesEvents::OnOpenCommandSessionComplete",
       Slot(&IMbnDeviceServicesEvents::OnOpenCommandSessionComplete), 4},
      {"IMbnDeviceServicesEvents::OnCloseCommandSessionComplete",
       Slot(&IMbnDeviceServicesEvents::OnCloseCommandSessionComplete), 5},
      {"IMbnDeviceServicesEvents::OnSetCommandComplete", Slot(&IMbnDeviceServicesEvents::OnSetCommandComplete), 6},
      {"IMbnDeviceServicesEvents::OnQueryCommandComplete", Slot(&IMbnDeviceServicesEvents::OnQueryCommandComplete),
       7},
      {"IMbnDeviceServicesEvents::OnReadData", Slot(&IMbnDeviceServicesEvents::OnReadData), 12},
      {"IMbnDeviceServicesEvents::OnInterfaceStateChange", Slot(&IMbnDeviceServicesEvents::OnInterfaceStateChange),
       13},
      {"IMbnRadioEvents::OnSetSoftwareRadioStateComplete", Slot(&IMbnRadioEvents::OnSetSoftwareRadioStateComplete),
       4},
      {"IMbnRegistrationEvents::OnSetRegisterModeComplete", Slot(&IMbnRegistrationEvents::OnSetRegisterModeComplete),
       6},
      {"IMbnInterfaceEvents::OnScanNetworkComplete", Slot(&IMbnInterfaceEvents::OnScanNetworkComplete), 10},
      {"IMbnInterfaceManagerEvents::OnInterfaceRemoval", Slot(&IMbnInterfaceManagerEvents::OnInterfaceRemoval), 4},
      {"IMbnConnectionEvents::OnVoiceCallStateChange", Slot(&IMbnConnectionEvents::OnVoiceCallStateChange), 6},
      {"IMbnConnectionManagerEvents::OnConnectionRemoval", Slot(&IMbnConnectionManagerEvents::OnConnectionRemoval),
       4},
      {"IMbnSignalEvents::OnSignalStateChange", Slot(&IMbnSignalEvents::OnSignalStateChange), 3},
  };
  for (const Row& r : rows) EXPECT_EQ(r.slot, r.expected) << r.method;
}

}  // namespace
