// The power-table text through set_BodySarValue, then read back with get_BodySarValue, on both
// module families and both roads against the simulated modem in this process: the bridge road
// (the library parses the text into the family's record, the bridge merges it into the modem's
// table) and the direct road (the text goes to the modem's firmware, which parses it; on Osprey
// the band-5 work-around follows), and a module of neither family. Two more choices take the
// bridge road's own steps without a modem, many times faster: the text parsed and applied to a
// record whose bytes (as the modem would have handed them over) come from the input as well, and
// the record's read-back text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/values/band5.h"
#include "api/values/value_records.h"
#include "bridge/log/bridge_log.h"
#include "sim/testing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Notebook {
  const char* name;
  std::uint32_t type;  // the module type the identification finds there
  const char* modem_ini;
};

// The firmware gate keeps an Osprey with firmware before ….01.13 off the bridge road; a Kestrel
// whose bridge cannot open the NVM service answers the probe "not supported" and goes direct.
const Notebook kNotebooks[] = {
    {"osprey-bridge", krill::kTypeOsprey, "[module]\nfamily=osprey\n"},
    {"osprey-direct", krill::kTypeOsprey, "[module]\nfamily=osprey\nfirmware=41400.1000.00.04.01.12\n"},
    {"kestrel-bridge", krill::kTypeKestrel, "[module]\nfamily=kestrel\n"},
    {"kestrel-direct", krill::kTypeKestrel, "[module]\nfamily=kestrel\n[services]\nnvm=0\n"},
    {"other", krill::kTypeOther, "[module]\nfamily=other\n"},
};

std::vector<std::filesystem::path>& Dirs() {
  static std::vector<std::filesystem::path> dirs;
  return dirs;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const Notebook& n : kNotebooks) Dirs().push_back(txlfuzz::MakeNotebook(n.name, n.modem_ini));
  vexel::DebugLevel = 1;
  return 0;
}

namespace {

// The record from the input, then the text applied to it and the record read back.
void OnRecords(FuzzedDataProvider& data, bool kestrel) {
  const unsigned table = data.ConsumeIntegralInRange<unsigned>(0, 3);
  if (kestrel) {
    krill::ProfilePowerImage image{};
    const auto given = data.ConsumeBytes<std::uint8_t>(image.size());
    std::copy(given.begin(), given.end(), image.begin());
    const std::string text = data.ConsumeRemainingBytesAsString();
    krill::ApplyKestrelValueLists(krill::ParseKestrelValueLists(text), table, &image);
    (void)krill::KestrelReadBackText(image, table);
  } else {
    krill::MaxTxPwrRecord record{};
    const auto given = data.ConsumeBytes<std::uint8_t>(record.size());
    std::copy(given.begin(), given.end(), record.begin());
    const std::string text = data.ConsumeRemainingBytesAsString();
    krill::ApplyOspreyValueLists(krill::ParseOspreyValueLists(text), &record);
    std::vector<char> readback(kBodySarValueTextBytes);
    krill::CopyBodySarValueText(krill::OspreyReadBackText(record), readback.data());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::size_t which = data.ConsumeIntegralInRange<std::size_t>(0, std::size(kNotebooks) + 1);
  if (which >= std::size(kNotebooks)) {
    OnRecords(data, which == std::size(kNotebooks));
    return 0;
  }
  std::string text = data.ConsumeRemainingBytesAsString();
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));

  txlfuzz::ResetNotebook(Dirs()[which]);
  txlfuzz::UseNotebook(Dirs()[which]);
  txlfuzz::ResetIdentification();
  krill::ntype = kNotebooks[which].type;
  krill::g_bBand5OneTime = true;  // as loaded: the work-around's one-time commands are due
  set_BodySarValue(text.data());
  // Exactly the buffer the export is documented to fill, so that a write past it is seen.
  std::vector<char> readback(kBodySarValueTextBytes);
  get_BodySarValue(readback.data());
  sim::testing::ResetAll();
  return 0;
}
