#include "sim/services/body_sar_commands.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "platform/bytes.h"
#include "sim/services/at_text.h"
#include "sim/services/sar_param_item.h"
#include "sim/services/sar_tables.h"

namespace sim::services {

namespace {

constexpr std::size_t kEnableByte = 0;
constexpr std::size_t kModeByte = 1;

bool HasBodySar(const AtModem& m) { return !FactorySarParamItem(m.config.family).empty(); }

// A setting of 0..max: "?" answers "+NAME: n", "=n" sets it.
template <class Get, class Set>
AtResult Setting(AtModem& m, std::string_view args, std::string_view name, std::uint8_t max, Get get, Set set) {
  if (!HasBodySar(m)) return AtError();
  if (args == "?") {
    const std::optional<std::uint8_t> v = get();
    if (!v) return AtError();
    return AtOk({"+" + std::string(name) + ": " + std::to_string(*v)});
  }
  if (args == "=?") return AtOk();
  if (args.empty() || args.front() != '=') return AtError();
  const auto n = WholeDecimal(args.substr(1), max);
  if (!n) return AtError();
  return set(static_cast<std::uint8_t>(*n)) ? AtOk() : AtError();
}

// The item as the NVM holds it; nullopt when unreadable or absent on this modem.
std::optional<Bytes> SarItem(AtModem& m) {
  std::optional<Bytes> item = m.nvm.ReadItem(kSarParamItem);
  if (!item || item->empty()) return std::nullopt;
  return item;
}

std::optional<std::uint8_t> ItemByte(AtModem& m, std::size_t at) {
  const std::optional<Bytes> item = SarItem(m);
  if (!item || item->size() <= at) return std::nullopt;
  return (*item)[at];
}

bool PutItemByte(AtModem& m, std::size_t at, std::uint8_t v) {
  return ItemByte(m, at) && m.nvm.Write(kSarParamItem, static_cast<std::uint32_t>(at), {v});
}

// Writes only the span that differs (`after` is an edited copy of `before`), so that bytes another
// process changed meanwhile outside it survive.
bool WriteChanges(AtModem& m, const Bytes& before, const Bytes& after) {
  std::size_t first = 0;
  while (first < after.size() && before[first] == after[first]) ++first;
  if (first == after.size()) return true;
  std::size_t end = after.size();
  while (before[end - 1] == after[end - 1]) --end;
  return m.nvm.Write(kSarParamItem, static_cast<std::uint32_t>(first),
                     Bytes(after.begin() + static_cast<std::ptrdiff_t>(first),
                           after.begin() + static_cast<std::ptrdiff_t>(end)));
}

// The words a cal_mtpm path names (one field, or a whole override element), and the largest value
// each takes; nullopt for any other path.
struct CalWord {
  std::size_t offset;
  std::uint32_t max;
  std::size_t words = 1;
};

std::optional<CalWord> ParseCalPath(TextCursor& c) {
  if (!c.Take("cal_mtpm.mtpm_tx_power_table[")) return std::nullopt;
  const auto table = c.Decimal(static_cast<std::uint32_t>(std::size(kOspreyProfileOffset) - 1));
  if (!table || !c.Take("].max_tx_pwr_")) return std::nullopt;
  Rat rat;
  if (c.Take("3g"))
    rat = Rat::k3g;
  else if (c.Take("4g"))
    rat = Rat::k4g;
  else
    return std::nullopt;
  if (!c.Take(".")) return std::nullopt;
  const std::size_t block = OspreyBlockOffset(*table, rat);
  const std::size_t capacity = OspreyCapacity(rat);
  if (c.Take("numOverrideElts")) return CalWord{block + 2, static_cast<std::uint32_t>(capacity)};
  if (!c.Take("overrideVals[")) return std::nullopt;
  const auto element = c.Decimal(static_cast<std::uint32_t>(capacity - 1));
  if (!element || !c.Take("]")) return std::nullopt;
  const std::size_t element_offset = block + 4 + *element * kOspreyElementSize;
  // The element as a whole: {band, second word, port A, B, C, D}.
  if (!c.Take(".")) return CalWord{element_offset, 0xFFFF, kOspreyElementSize / 2};
  std::size_t word = 0;
  if (c.Take("band")) {
    word = 0;
  } else if (c.Take("override_port")) {
    static constexpr std::string_view kPorts = "ABCD";
    const std::string_view rest = c.rest();
    const std::size_t port = rest.empty() ? kPorts.npos : kPorts.find(UpperAscii(rest.substr(0, 1))[0]);
    if (port == kPorts.npos) return std::nullopt;
    c.Take(rest.substr(0, 1));
    word = 2 + port;
  } else {
    return std::nullopt;
  }
  return CalWord{element_offset + 2 * word, 0xFFFF};
}

}  // namespace

AtResult BodySarEnable(AtModem& m, std::string_view args) {
  return Setting(
      m, args, "BODYSAREN", 1, [&] { return ItemByte(m, kEnableByte); },
      [&](std::uint8_t v) { return PutItemByte(m, kEnableByte, v); });
}

AtResult BodySarMode(AtModem& m, std::string_view args) {
  return Setting(
      m, args, "BODYSARMODE", 1, [&] { return ItemByte(m, kModeByte); },
      [&](std::uint8_t v) { return PutItemByte(m, kModeByte, v); });
}

AtResult BodySarOn(AtModem& m, std::string_view args) {
  return Setting(
      m, args, "BODYSARON", 1, [&] { return m.settings.On(); }, [&](std::uint8_t v) { return m.settings.SetOn(v); });
}

AtResult BodySarProfile(AtModem& m, std::string_view args) {
  return Setting(
      m, args, "BODYSARPROFILE", kMaxBodySarProfile, [&] { return m.settings.Profile(); },
      [&](std::uint8_t v) { return m.settings.SetProfile(v); });
}

AtResult BodySarTable(AtModem& m, std::string_view args) {
  const ModemFamily family = m.config.family;
  if (!HasBodySar(m)) return AtError();
  if (args == "=?") return AtOk();
  if (args != "?" && (args.empty() || args.front() != '=')) return AtError();
  const std::optional<std::uint8_t> profile = m.settings.Profile();
  const std::optional<Bytes> item = SarItem(m);
  if (!profile || !item) return AtError();
  const std::size_t table = ActiveTable(family, *profile);
  if (args == "?") {
    const auto limits = BandLimits(family, table, *item);
    if (!limits) return AtError();
    std::vector<std::string> lines = {"+BODYSAR:"};
    for (const BandLimit& l : *limits) lines.push_back(SarTableLine(l));
    return AtOk(std::move(lines));
  }
  const auto limits = ParseSarTableText(args.substr(1), MaxBand(family, Rat::k3g), MaxBand(family, Rat::k4g));
  if (!limits) return AtError();
  Bytes changed = *item;
  if (!PutBandLimits(family, table, *limits, &changed)) return AtError();
  return WriteChanges(m, *item, changed) ? AtOk() : AtError();
}

AtResult BodySarClear(AtModem& m, std::string_view args) {
  if (!HasBodySar(m)) return AtError();
  return AtAction(args, [&] {
    Bytes factory = FactorySarParamItem(m.config.family);
    factory[kEnableByte] = 1;
    factory[kModeByte] = 0;
    const bool ok = m.nvm.Write(kSarParamItem, 0, factory) && m.settings.SetOn(kFactoryBodySarOn) &&
                    m.settings.SetProfile(kFactoryBodySarProfile);
    return ok ? AtOk() : AtError();
  });
}

AtResult Band5Workaround(AtModem&, std::string_view args) {
  return AtAction(args, [] { return AtOk(); });
}

AtResult CodeVerify(AtModem&, std::string_view rest) {
  rest = TrimBlanks(rest);
  return rest.size() >= 2 && rest.front() == '(' && rest.back() == ')' ? AtOk() : AtError();
}

AtResult NvmCommand(AtModem& m, std::string_view rest) {
  if (m.config.family != ModemFamily::kOsprey) return AtError();
  rest = TrimBlanks(rest);
  if (plat::EqualsIgnoreCaseAscii(rest, "store_nvm_sync(cal_mtpm)")) return AtOk();
  TextCursor c(rest);
  const std::optional<CalWord> word = ParseCalPath(c);
  if (!word) return AtError();
  c.SkipBlanks();
  if (!c.Take("=")) return AtError();
  c.SkipBlanks();
  // One value, or for a whole element every word in braces, comma-separated.
  const bool list = word->words > 1;
  if (list && !c.Take("{")) return AtError();
  Bytes bytes(2 * word->words);
  for (std::size_t i = 0; i < word->words; ++i) {
    c.SkipBlanks();
    if (i > 0 && !c.Take(",")) return AtError();
    c.SkipBlanks();
    const auto value = c.Decimal(word->max);
    if (!value) return AtError();
    plat::LeWriter(bytes).U16(2 * i, static_cast<std::uint16_t>(*value));
  }
  c.SkipBlanks();
  if ((list && !c.Take("}")) || !c.AtEnd()) return AtError();
  const std::optional<Bytes> item = SarItem(m);
  if (!item || item->size() < kOspreySarItemSize) return AtError();
  return m.nvm.Write(kSarParamItem, static_cast<std::uint32_t>(word->offset), bytes) ? AtOk() : AtError();
}

}  // namespace sim::services
