// The folder that stands for the machine where the suite keeps a machine of its own: on POSIX the
// whole notebook (registry file, lock files, services, COMn terminals, ProgramData), and on every
// system the simulated modem's files (its configuration, NVM items, trace), since the simulator
// runs on Windows too with TXL_MODEM=sim.
#pragma once

#include <filesystem>

namespace plat {

// $TXL_MACHINE_DIR, else ${XDG_STATE_HOME:-$HOME/.local/state}/txl-machine (on Windows without
// either, %LOCALAPPDATA%\txl-machine). Read from the environment on every call, so that a test may
// switch notebooks; the folder is created when missing.
std::filesystem::path MachineDir();

}  // namespace plat
