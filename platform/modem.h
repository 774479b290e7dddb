// Which modem the mobile-broadband calls reach.
#pragma once

namespace plat {

enum class ModemKind {
  kSimulated,  // the simulated notebook (sim/)
  kOs,         // the operating system's Mobile Broadband API
};

// TXL_MODEM: "sim" or "os". POSIX knows only the simulated notebook; Windows defaults to "os".
ModemKind SelectedModem();

}  // namespace plat
