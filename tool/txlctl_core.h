// txlctl's pure parts: the command line, the friendly table form turned into a table text, the
// read-back text turned into rows, result codes in words and JSON text. Nothing here calls an export.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool/txlctl_sar.h"

namespace txlctl {

enum class Command {
  kHelp, kStatus, kEnable, kOn, kMode, kProfile, kClear, kImei,
  kTableGet, kTableSet, kTableExport, kTableImport, kTableDiff,
  kSar, kSarSet, kSarTx, kSarTxSet,
};

struct Options {
  Command command = Command::kHelp;
  std::optional<int> value;  // enable|on|mode|profile VALUE: set, then read back
  std::string table_text;    // table set: the text handed to the export
  bool json = false;
  bool raw = false;
  bool force = false;        // table set: a raw text sent unchecked
  bool verbose = false;      // the bridge's console lines shown on standard error
  std::optional<int> profile;  // table export --profile N
  std::string file;            // table export|import|diff FILE (export: empty for standard output)
  // sar set: --mode host|device, --backoff on|off, each --antenna N with its --index K.
  std::optional<bool> sar_host;
  std::optional<bool> sar_backoff;
  std::vector<SarState> sar_states;
  // sar tx set: --notify on|off, --hysteresis S.
  std::optional<bool> notify;
  std::optional<std::uint32_t> hysteresis_s;
};

struct Parsed {
  bool ok = false;
  Options options;
  std::string error;  // why the command line was refused
};

// args: the arguments after the program name. Options (--json, --raw, --force, -v/--verbose,
// --help and those with a value) may stand anywhere.
Parsed ParseArguments(const std::vector<std::string>& args);

// ---- Friendly table form ---------------------------------------------------------------------------

// Power limits in tenths of a dBm.
inline constexpr int kLimit3GTenths = 235;
inline constexpr int kLimit4GTenths = 230;

struct BuiltTable {
  bool ok = false;
  std::string text;   // e.g. 1,200,"0x1",220,"0x10"
  std::string error;
};

// technology: "3g" or "4g" (any case); items: "bN=DBM" with at most one decimal.
BuiltTable BuildTableText(std::string_view technology, const std::vector<std::string>& items);

struct Row;

// A raw table text checked as the control library reads it: a technology 1 (3G) or 2 (4G), then
// one or more value and quoted mask pairs (`1,200,"0x1",190,"0x2"`), each value a whole number of
// tenths of a dBm from 0 to the technology's limit, each mask the mask text of one band the band
// tables serve for that technology ("0x10" for band 5), no band twice. The rows it asks for, or why it is refused.
struct CheckedText {
  bool ok = false;
  std::vector<Row> rows;
  std::string error;
};
CheckedText CheckTableText(std::string_view text);

// Whether the control library's band tables accept band `band` (1-based) for 3G (technology 1) or
// 4G (technology 2) on either module family.
bool BandAccepted(int technology, int band);

// The mask text (hex digits without "0x") of band `band`: bit band-1.
std::string BandMask(int band);

// "23.5" -> 235; empty when not a non-negative number with at most one decimal.
std::optional<int> ParseTenths(std::string_view text);

// 235 -> "23.5", -5 -> "-0.5".
std::string FormatTenths(int tenths);

// ---- Read-back -------------------------------------------------------------------------------------

struct Row {
  int technology = 0;  // 1 = 3G, 2 = 4G
  int band = 0;        // 1-based
  int tenths = 0;      // tenths of a dBm
};

// Lines like 1,235,"0x1": one row per mask bit (bit k = band k+1). Other lines are skipped.
std::vector<Row> ParseReadBack(std::string_view text);

std::string TechnologyName(int technology);

// The rows as an aligned text table.
std::string FormatRows(const std::vector<Row>& rows);
// The rows as a JSON array.
std::string RowsJson(const std::vector<Row>& rows);

// ---- Table files -----------------------------------------------------------------------------------

// The rows of a table file as `table export` writes it, {"profile":N,"table":[{"technology":"3G",
// "band":5,"dbm":21.5},...]} (other members are ignored), or the array alone. Every entry is checked
// as `table set` checks the friendly form (technology 3G or 4G, a band served for it, at most one
// decimal, within the limit, no band twice); the whole file is refused at the first bad entry.
struct FileRows {
  bool ok = false;
  std::vector<Row> rows;
  std::string error;
};
FileRows ParseTableFile(std::string_view json);

// The fewest table texts that set the rows: one per technology.
std::vector<std::string> TableTexts(const std::vector<Row>& rows);

// What setting `wanted` would change in `held`, a line per band ("3G band 5: 20.0 -> 21.5 dBm";
// "(not in the table)" for a band the modem holds no value for), and how many would change.
std::string DiffRows(const std::vector<Row>& wanted, const std::vector<Row>& held, int* changes);

// ---- Codes and JSON --------------------------------------------------------------------------------

// What a result code of the exports means, with the code in brackets.
std::string CodeMessage(int code);

std::string JsonString(std::string_view text);
// {"code":N,"message":"..."}
std::string JsonError(int code);

// Exit code of a refused command line (nothing sent).
inline constexpr int kUsageExit = 64;
// Exit code of a table set whose values the modem does not hold when read back.
inline constexpr int kNotAppliedExit = 65;

std::string HelpText();

}  // namespace txlctl
