// The simulated notebook: the modem behind the mobile-broadband stack and the Setup API device
// list. Once registered, it is what the platform's COM calls reach on POSIX, and on Windows with
// TXL_MODEM=sim.
//
// Contract relied on by tests and outside tools:
//   TXL_MACHINE_DIR         folder standing for the notebook
//                           (default ${XDG_STATE_HOME:-$HOME/.local/state}/txl-machine)
//   modem/modem.ini         the modem's configuration (an embedded default serves when absent)
//   modem/nvm/ITEM.bin      NVM items, raw bytes (ITEM: 8 lower-case hex digits)
//   modem/trace.jsonl       one JSON object per device-service request, when TXL_SIM_TRACE=1
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"

namespace sim {

// What the simulated stack answers for an interface id or device-service id it does not know (and
// for a service the modem lacks): HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
inline constexpr plat::HRESULT kNotFound = plat::HresultFromWin32(plat::ERROR_NOT_FOUND);

// The completion status of a command (query, set) on a closed command session, or of a write on
// a closed data session: the device is not ready for it, HRESULT_FROM_WIN32(ERROR_NOT_READY).
inline constexpr plat::HRESULT kSessionNotOpen = plat::Hr(0x80070015u);

// Creates one of the four mobile-broadband classes (interface manager, device-services manager,
// connection manager, connection-profile manager). REGDB_E_CLASSNOTREG for any other class.
plat::HRESULT CreateMbnInstance(const plat::GUID& clsid, const plat::GUID& iid, void** ppv);

// The hardware instance ids of the devices present on the notebook, as the Setup API lists them:
// [setupapi] of modem/modem.ini, else the one device of the configured modem family (none for a
// family the suite does not drive).
std::vector<std::string> SetupApiDevices();

// Plugs the simulated notebook into the platform (platform/modem.h): from now on the
// mobile-broadband classes and the Setup API's device list of this module's platform are these,
// whenever the simulated modem is selected. Called by whoever wants the simulator: the load hooks
// of the libraries, txlsim, the test programs.
void RegisterWithPlatform();

}  // namespace sim
