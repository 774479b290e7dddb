// The bridge's AT front door, both entry points, against the simulated modem in this process: a
// command text (as bytes widened one by one, or as UTF-16 units) and, when the input asks for one,
// the family's power-table record filled from the input. Texts no handler claims go through the
// AT tunnel to the simulated firmware.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bridge/front_door/at_interface.h"
#include "bridge/log/bridge_log.h"
#include "bridge/messages/records.h"
#include "sim/testing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::filesystem::path& Notebook() {
  static std::filesystem::path dir;
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Notebook() = txlfuzz::MakeNotebook("front-door", "");
  txlfuzz::UseNotebook(Notebook());
  vexel::DebugLevel = 1;  // formatted like any other line, to the console only
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  txlfuzz::ResetNotebook(Notebook());
  const bool kestrel = data.ConsumeBool();
  const bool with_table = data.ConsumeBool();
  const bool wide = data.ConsumeBool();
  std::vector<std::uint8_t> table(kestrel ? vexel::ProfilePowerImage::kSize : vexel::MaxTxPwrRecord::kSize);
  if (with_table) {
    const std::vector<std::uint8_t> given = data.ConsumeBytes<std::uint8_t>(table.size());
    std::copy(given.begin(), given.end(), table.begin());
  }
  std::u16string command;
  const std::string text = data.ConsumeRemainingBytesAsString();
  if (wide) {
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
      command += static_cast<char16_t>(static_cast<std::uint8_t>(text[i]) | static_cast<std::uint8_t>(text[i + 1]) << 8);
  } else {
    for (char c : text) command += static_cast<char16_t>(static_cast<std::uint8_t>(c));
  }
  // The entry points read up to the first NUL, as a caller's C string ends there.
  command.resize(command.find(u'\0') == std::u16string::npos ? command.size() : command.find(u'\0'));

  // Exactly what the contract asks of a caller, so that any write past it is seen.
  std::vector<char16_t> reply(4096);
  int length = -1;
  const auto entry = kestrel ? AtSendInterfaceSTA : AtSendInterface;
  entry(command.c_str(), reply.data(), &length, with_table ? table.data() : nullptr);
  if (length < 0 || length >= 4096 || reply[static_cast<std::size_t>(length)] != u'\0') __builtin_trap();
  sim::testing::ResetAll();
  return 0;
}
