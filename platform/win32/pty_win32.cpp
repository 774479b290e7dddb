#include "platform/pty.h"

#include "platform/process.h"

namespace plat {

// Windows reaches its modems through the Mobile Broadband API; no program opens a device node.
std::unique_ptr<PseudoTerminal> OpenPseudoTerminal() {
  SetLastError(ERROR_NOT_SUPPORTED);
  return nullptr;
}

bool MakeSymbolicLink(const std::string&, const std::string&) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

void RemoveSymbolicLink(const std::string&, const std::string&) {}

}  // namespace plat
