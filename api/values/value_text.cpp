#include "api/values/value_text.h"

#include <climits>

#include "platform/text.h"

namespace krill {

namespace {

// Kestrel rows carry the band index (band - 1), which is also the position in its power arrays.
const std::vector<BandRow> kKestrel3G = {{0, "1"}, {1, "2"}, {3, "8"}, {4, "10"}, {7, "80"}};

const std::vector<BandRow> kKestrel4G = {
    {0, "1"},           {1, "2"},           {2, "4"},          {3, "8"},          {4, "10"},
    {6, "40"},          {7, "80"},          {10, "400"},       {11, "800"},       {12, "1000"},
    {16, "10000"},      {17, "20000"},      {18, "40000"},     {19, "80000"},     {20, "100000"},
    {25, "2000000"},    {27, "8000000"},    {28, "10000000"},  {29, "20000000"},  {37, "2000000000"},
    {38, "4000000000"}, {39, "8000000000"}, {40, "10000000000"}, {65, "20000000000000000"}};

// Band 6 carries band 5's mask on purpose: the modem mirrors band 5 into its band-6 element, so a
// mask always names band 5 and band 6 is never addressed from a text.
const std::vector<BandRow> kOsprey = {
    {1, "1"},           {2, "2"},           {3, "4"},           {4, "8"},
    {5, "10"},          {6, "10"},          {7, "40"},          {8, "80"},
    {12, "800"},        {13, "1000"},       {14, "2000"},       {17, "10000"},
    {18, "20000"},      {19, "40000"},      {20, "80000"},      {21, "100000"},
    {25, "1000000"},    {26, "2000000"},    {28, "8000000"},    {29, "10000000"},
    {30, "20000000"},   {32, "80000000"},   {38, "2000000000"}, {39, "4000000000"},
    {40, "8000000000"}, {41, "10000000000"}, {42, "20000000000"}, {46, "200000000000"},
    {66, "20000000000000000"}};

struct RawPair {
  std::string_view value;
  std::string_view mask;
};

std::string_view Slice(std::string_view text, std::size_t begin, std::size_t end) {
  if (begin >= text.size() || end <= begin) return {};
  return text.substr(begin, end - begin);
}

// Splits the pairs after the selector. The mask starts four characters after the value's comma
// (comma, quote, "0", "x"), so a blank before the quote or a leading zero spoils the mask rather
// than being forgiven.
std::vector<RawPair> SplitPairs(std::string_view text) {
  std::vector<RawPair> pairs;
  std::size_t current = text.find(',');
  if (current == std::string_view::npos) return pairs;
  for (;;) {
    const std::size_t a = text.find(',', current + 1);
    if (a == std::string_view::npos) break;
    const std::string_view value = Slice(text, current + 1, a);
    const std::size_t b = text.find(',', a + 1);
    if (b != std::string_view::npos) {
      pairs.push_back({value, Slice(text, a + 4, b - 1)});
      current = b;
      continue;
    }
    std::size_t quote = a + 4 < text.size() ? text.find('"', a + 4) : std::string_view::npos;
    if (quote == std::string_view::npos) quote = text.size();
    pairs.push_back({value, Slice(text, a + 4, quote)});
    break;
  }
  return pairs;
}

}  // namespace

const std::vector<BandRow>& Kestrel3GBandTable() { return kKestrel3G; }
const std::vector<BandRow>& Kestrel4GBandTable() { return kKestrel4G; }
const std::vector<BandRow>& OspreyBandTable() { return kOsprey; }

std::optional<std::uint16_t> FindBand(const std::vector<BandRow>& table, std::string_view mask, bool ignore_case) {
  for (const BandRow& row : table) {
    if (ignore_case ? plat::EqualsIgnoreCaseAscii(row.mask, mask) : row.mask == mask) return row.number;
  }
  return std::nullopt;
}

std::optional<std::string_view> FindMask(const std::vector<BandRow>& table, std::uint16_t number) {
  for (const BandRow& row : table) {
    if (row.number == number) return row.mask;
  }
  return std::nullopt;
}

Technology ReadSelector(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos || comma == 0) return Technology::kNone;
  switch (text[comma - 1]) {
    case '1':
      return Technology::k3G;
    case '2':
      return Technology::k4G;
    default:
      return Technology::kNone;
  }
}

unsigned long ValueForLimit(std::string_view value_text) {
  if (value_text.empty()) return ULONG_MAX;
  unsigned long value = 0;
  for (const char c : value_text) {
    if (c < '0' || c > '9') return ULONG_MAX;
    const unsigned long digit = static_cast<unsigned long>(c - '0');
    // Stays ULONG_MAX once past the range, so that no number of digits wraps back into it.
    value = value > (ULONG_MAX - digit) / 10 ? ULONG_MAX : value * 10 + digit;
  }
  return value;
}

void ParseKestrelValueText(std::string_view text, std::vector<KestrelValueEntry>* entries) {
  for (const RawPair& p : SplitPairs(text)) {
    KestrelValueEntry e;
    e.mask = std::string(p.mask);
    const unsigned long v = ValueForLimit(p.value);
    e.value = v > 0xFFFF ? std::uint16_t{0xFFFF} : static_cast<std::uint16_t>(v);
    entries->push_back(std::move(e));
  }
}

void ParseOspreyValueText(std::string_view text, std::vector<OspreyValueEntry>* entries) {
  for (const RawPair& p : SplitPairs(text)) entries->push_back({std::string(p.mask), std::string(p.value)});
}

std::string ReadBackLine(int technology, int value, std::string_view mask) {
  // Each line is formed in 50 bytes; the longest mask (17 digits) keeps it far below.
  return plat::Format("%d,%d,\"0x%.*s\"", technology, value, static_cast<int>(mask.size()), mask.data()) + "\r\n";
}

std::string ReadBackText(const std::string& lines) { return "+BODYSAR:\r\n" + lines + "OK\r\n"; }

}  // namespace krill
