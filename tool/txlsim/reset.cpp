// txlsim reset: the modem back to its factory state.
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/machine.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

namespace fs = std::filesystem;

int Reset() {
  const fs::path modem = plat::MachineDir() / "modem";
  std::vector<fs::path> doomed;
  std::error_code ec;
  if (fs::is_directory(modem / "nvm", ec))
    for (const auto& e : fs::directory_iterator(modem / "nvm", ec))
      if (e.path().extension() == ".bin") doomed.push_back(e.path());
  for (const char* name : {"body_sar_on.bin", "body_sar_profile.bin", "ms_sar.bin"})
    if (fs::exists(modem / name, ec)) doomed.push_back(modem / name);
  int rc = 0;
  for (const auto& p : doomed) {
    if (fs::remove(p, ec)) {
      std::printf("removed %s\n", PathText(p).c_str());
    } else {
      std::fprintf(stderr, "txlsim: cannot remove %s\n", PathText(p).c_str());
      rc = 1;
    }
  }
  if (doomed.empty()) std::printf("nothing to remove: the modem is in factory state\n");
  return rc;
}

}  // namespace txlsim
