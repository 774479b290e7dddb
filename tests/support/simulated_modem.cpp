// Registers the simulated notebook with the test program's platform before main: the program links
// the libraries' code directly, without the load hooks that register it for their clients.
#include "sim/sim.h"

namespace {

[[maybe_unused]] const bool g_registered = [] {
  sim::RegisterWithPlatform();
  return true;
}();

}  // namespace
