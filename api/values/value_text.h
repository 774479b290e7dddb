// The body-SAR table text ("1,200,\"0x1\",190,\"0x2\""), the band tables that turn its masks into
// table positions, the power units and the value limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/exports.h"

namespace krill {

// ---- Band tables -----------------------------------------------------------------------------------

// One row: the number (a band index for Kestrel, a band number for Osprey) and the band's mask
// text, the hexadecimal digits without "0x".
struct BandRow {
  std::uint16_t number;
  std::string_view mask;
};

// The rows stand in lookup order; the first matching row wins. The contents never change, so the
// tables are constants rather than lists refilled before every use.
const std::vector<BandRow>& Kestrel3GBandTable();
const std::vector<BandRow>& Kestrel4GBandTable();
const std::vector<BandRow>& OspreyBandTable();

// The number of the first row whose mask text equals `mask`; letter case is ignored only when
// asked (Kestrel). Empty when no row matches.
std::optional<std::uint16_t> FindBand(const std::vector<BandRow>& table, std::string_view mask, bool ignore_case);

// The mask text of the first row carrying `number`, empty when none does.
std::optional<std::string_view> FindMask(const std::vector<BandRow>& table, std::uint16_t number);

// ---- Table text ------------------------------------------------------------------------------------

enum class Technology { kNone, k3G, k4G };

// The character just before the first comma: '1' is 3G, '2' is 4G, anything else (or no comma,
// or a comma first) selects nothing.
Technology ReadSelector(std::string_view text);

struct KestrelValueEntry {
  std::string mask;
  // Converted when parsed (ValueForLimit). A text that is no plain decimal number, and a number
  // that does not fit 16 bits, is held as 0xFFFF so that it fails the limit instead of wrapping
  // into range or passing as 0.
  std::uint16_t value = 0;
  std::uint16_t band_index = 0;
  bool matched = false;
};

struct OspreyValueEntry {
  std::string mask;
  std::string value_text;  // converted when applied
};

void ParseKestrelValueText(std::string_view text, std::vector<KestrelValueEntry>* entries);
void ParseOspreyValueText(std::string_view text, std::vector<OspreyValueEntry>* entries);

// ---- Units and limits ------------------------------------------------------------------------------

// Tenths of a dBm to the modem's 1/16 dBm and back, truncating toward zero.
constexpr int TenthsToNvm(int tenths) { return tenths * 16 / 10; }
constexpr int NvmToTenths(int nvm) { return nvm * 10 / 16; }

inline constexpr unsigned kLimit3G = 235;
inline constexpr unsigned kLimit4G = 230;

// A value text as a value to test against a limit. Only a plain decimal number (one or more ASCII
// digits and nothing else: no blank, sign, exponent or hexadecimal prefix) is a value; anything
// else, and a number beyond the unsigned long range however many digits it has, gives ULONG_MAX,
// which is above every limit.
unsigned long ValueForLimit(std::string_view value_text);

// ---- Read-back text --------------------------------------------------------------------------------

// The largest text get_BodySarValue ever writes, terminating zero included (declared with the
// export): read-back texts stay below 2700 bytes; a longer direct-road reply is cut to this and
// reported as a failure.
using ::kBodySarValueTextBytes;

// One band line, "%d,%d,\"0x%s\"\r\n".
std::string ReadBackLine(int technology, int value, std::string_view mask);
// Header, the given lines, trailer.
std::string ReadBackText(const std::string& lines);

}  // namespace krill
