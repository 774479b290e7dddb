// The simulated modem's AT firmware: one command line a run, for each modem family, over the
// modem's own NVM and settings in a scratch notebook.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/modem_config.h"
#include "sim/services/at_firmware.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const sim::ModemFamily kFamilies[] = {sim::ModemFamily::kOsprey, sim::ModemFamily::kKestrel,
                                      sim::ModemFamily::kOther};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  txlfuzz::UseNotebook(txlfuzz::MakeNotebook("firmware", ""));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const sim::ModemFamily family = kFamilies[data.ConsumeIntegralInRange<int>(0, 2)];
  const std::string command = data.ConsumeRemainingBytesAsString();
  static const auto dir = txlfuzz::ScratchRoot() / "firmware";
  sim::services::AtFirmware firmware(dir, sim::DefaultModemConfig(family));
  (void)firmware.Execute(command);
  return 0;
}
