// The library's load and unload: the simulated notebook is registered with the library's platform
// on attach, and the library holds its handle on the machine-wide process lock from one to the
// other.
#include "api/support/global_tools.h"
#include "platform/dll.h"
#include "sim/sim.h"

namespace {

void OnProcessAttach() {
  sim::RegisterWithPlatform();
  IGlobalTools::LibraryProcessLock().OpenProcessLock();
}
void OnProcessDetach() { IGlobalTools::LibraryProcessLock().CloseProcessLock(); }

}  // namespace

TXL_DLL_ENTRY(OnProcessAttach, OnProcessDetach)
