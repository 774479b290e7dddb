// What txlctl takes from outside: a table text from the command line, a table file, and the MS SAR
// service's answers, each checked against the other side that reads the same bytes. The first
// byte chooses the reader; the rest is its input.
//   - An MS SAR answer txlctl accepts lists no more states than the answer has room for; a set it
//     builds from them is one the simulated modem reads back to the same mode, status and states.
//   - A set request the modem accepts is stored in a form it reads back unchanged.
//   - A table file txlctl accepts becomes table texts its own checker accepts, asking for exactly
//     the file's entries; a checked table text asks for bands the library serves, within limits.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/services/ms_sar_service.h"
#include "tests/fuzz/fuzz_support.h"
#include "tool/txlctl_core.h"
#include "tool/txlctl_sar.h"

namespace {

void Require(bool holds) {
  if (!holds) __builtin_trap();
}

void SarAnswer(const txlctl::Bytes& bytes) {
  std::string why;
  const auto config = txlctl::DecodeSarConfig(bytes, &why);
  Require(config.has_value() == why.empty());
  if (!config) return;
  Require(bytes.size() >= 16 + 16 * config->states.size());
  // Antennas named twice are txlctl's to refuse before sending; the modem refuses them too.
  std::set<std::uint32_t> antennas;
  for (const auto& s : config->states) antennas.insert(s.antenna);
  const auto stored = sim::services::DecodeMsSarSet(txlctl::EncodeSarConfigSet(*config));
  Require(stored.has_value() == (antennas.size() == config->states.size()));
  if (!stored) return;
  Require(stored->mode == (config->host ? 1u : 0u) && stored->backoff_status == (config->backoff ? 1u : 0u));
  Require(stored->states.size() == config->states.size());
  for (std::size_t i = 0; i < config->states.size(); ++i)
    Require(stored->states[i].antenna_index == config->states[i].antenna &&
            stored->states[i].backoff_index == config->states[i].backoff_index);
}

void ModemSet(const sim::Bytes& bytes) {
  const auto state = sim::services::DecodeMsSarSet(bytes);
  if (!state) return;
  const sim::Bytes stored = sim::services::EncodeMsSarSet(*state);
  const auto again = sim::services::DecodeMsSarSet(stored);
  Require(again.has_value() && again->mode == state->mode && again->backoff_status == state->backoff_status &&
          again->states == state->states);
  Require(sim::services::EncodeMsSarSet(*again) == stored);
}

void Transmission(const txlctl::Bytes& bytes) {
  std::string why;
  const auto status = txlctl::DecodeTransmissionStatus(bytes, &why);
  Require(status.has_value() == why.empty());
  Require(!status || bytes.size() >= 12);
}

std::set<std::pair<int, int>> Bands(const std::vector<txlctl::Row>& rows) {
  std::set<std::pair<int, int>> bands;
  for (const auto& r : rows) bands.insert({r.technology, r.band});
  return bands;
}

void TableText(std::string_view text) {
  const txlctl::CheckedText checked = txlctl::CheckTableText(text);
  Require(checked.ok == checked.error.empty());
  if (!checked.ok) return;
  Require(!checked.rows.empty() && Bands(checked.rows).size() == checked.rows.size());
  for (const auto& r : checked.rows) {
    Require(txlctl::BandAccepted(r.technology, r.band));
    Require(r.tenths >= 0 && r.tenths <= (r.technology == 1 ? txlctl::kLimit3GTenths : txlctl::kLimit4GTenths));
  }
}

void TableFile(std::string_view json) {
  const txlctl::FileRows file = txlctl::ParseTableFile(json);
  if (!file.ok) return;
  std::vector<txlctl::Row> asked;
  for (const std::string& text : txlctl::TableTexts(file.rows)) {
    const txlctl::CheckedText checked = txlctl::CheckTableText(text);
    Require(checked.ok);
    asked.insert(asked.end(), checked.rows.begin(), checked.rows.end());
  }
  Require(asked.size() == file.rows.size() && Bands(asked) == Bands(file.rows));
  for (const auto& w : file.rows) {
    bool found = false;
    for (const auto& a : asked) found = found || (a.technology == w.technology && a.band == w.band && a.tenths == w.tenths);
    Require(found);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<std::uint8_t> bytes(data + 1, data + size);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 5) {
    case 0: SarAnswer(bytes); break;
    case 1: ModemSet(bytes); break;
    case 2: Transmission(bytes); break;
    case 3: TableText(text); break;
    case 4: TableFile(text); break;
  }
  return 0;
}
