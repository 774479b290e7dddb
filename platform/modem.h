// Which modem the mobile-broadband calls reach, and the seam through which a simulated one is
// plugged in.
//
// The platform knows no simulator. A stand-in for the system's modem registers itself here: the
// class factory of the mobile-broadband classes and the Setup API's list of present devices.
// Who registers is up to the program: the suite's libraries in their load hooks, the simulator's
// own tool, the test programs that need a modem. A program that registers nothing (the service
// host) reaches no simulated modem at all.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"

namespace plat {

enum class ModemKind {
  kSimulated,  // the registered stand-in
  kOs,         // the operating system's Mobile Broadband API
};

// TXL_MODEM: "sim" or "os". Windows defaults to "os", POSIX to "sim" (its "os" is the machine's MBIM
// devices through libmbim).
ModemKind SelectedModem();

struct SimulatedModem {
  // Creates a mobile-broadband class; REGDB_E_CLASSNOTREG for a class it does not serve.
  HRESULT (*create_instance)(const GUID& clsid, const GUID& iid, void** ppv) = nullptr;
  // The hardware instance ids of the present devices, as the Setup API lists them.
  std::vector<std::string> (*present_devices)() = nullptr;
};

// Makes `modem` what the platform asks whenever the simulated modem is selected: on POSIX always,
// on Windows with TXL_MODEM=sim. Until something registers, CoCreateInstance answers
// REGDB_E_CLASSNOTREG and the device list is empty. Registering again replaces the earlier one.
void RegisterSimulatedModem(const SimulatedModem& modem);

}  // namespace plat
