// Writes one byte at a time into an NVM item of the notebook TXL_MACHINE_DIR names, at the
// offsets slot, slot + stride, slot + 2 * stride, ... (count writes), each byte being 0xA0 + slot.
// Usage: sim_nvm_writer ITEM SLOT STRIDE COUNT. Exit status 0 when every write succeeded.
#include <cstdint>
#include <cstdlib>

#include "platform/machine.h"
#include "sim/nvm_store.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const auto item = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 0));
  const auto slot = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0));
  const auto stride = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 0));
  const auto count = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 0));
  sim::NvmStore store(plat::MachineDir(), sim::ModemFamily::kOsprey);
  for (std::uint32_t i = 0; i < count; ++i)
    if (!store.Write(item, slot + i * stride, {static_cast<std::uint8_t>(0xA0 + slot)})) return 1;
  return 0;
}
