// The library's load and unload: the simulated notebook is registered with the library's platform
// and the dated log file opened on attach; the log is closed on detach.
#include "bridge/log/bridge_log.h"
#include "platform/dll.h"
#include "sim/sim.h"

namespace {

void OnProcessAttach() {
  sim::RegisterWithPlatform();
  vexel::OnProcessAttach();
}

}  // namespace

TXL_DLL_ENTRY(OnProcessAttach, vexel::OnProcessDetach)
