#include "sim/sim.h"

#include "platform/machine.h"
#include "platform/modem.h"
#include "sim/modem_config.h"

namespace sim {

std::vector<std::string> SetupApiDevices() { return LoadModemConfig(plat::MachineDir()).setupapi_devices; }

void RegisterWithPlatform() {
  plat::SimulatedModem modem;
  modem.create_instance = &CreateMbnInstance;
  modem.present_devices = &SetupApiDevices;
  plat::RegisterSimulatedModem(modem);
}

}  // namespace sim
