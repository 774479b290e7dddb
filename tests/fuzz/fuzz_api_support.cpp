// The part of the fuzz support that knows the control library; linked by the targets that drive it.
#include "api/identify/identify.h"
#include "bridge/front_door/at_interface.h"
#include "platform/mbn.h"
#include "tests/fuzz/fuzz_support.h"

namespace txlfuzz {

void ResetIdentification(int (*osprey)(const char16_t*, char16_t*, int*, void*),
                         int (*kestrel)(const char16_t*, char16_t*, int*, void*)) {
  if (krill::g_InterfaceManager) {
    krill::g_InterfaceManager->Release();
    krill::g_InterfaceManager = nullptr;
  }
  krill::g_MoblieBandInfo = {};
  krill::ntype = krill::kTypeUnknown;
  krill::vexelAtSendFun = osprey ? osprey : AtSendInterface;
  krill::KestrelVexelAtSendFun = kestrel ? kestrel : AtSendInterfaceSTA;
}

}  // namespace txlfuzz
