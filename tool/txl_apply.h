// TxlApply: applies one of three built-in body-SAR power-table sets, or switches the back-off
// index, through krillTXLApi. It prints nothing; its exit code is its only report.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace txlapply {

// The exports the tool calls. The program fills this with the imported functions; tests put
// recorders in their place.
struct KrillCalls {
  int (*get_IsMBIMReady)(unsigned int*);
  int (*set_BodySarEnable)(int);
  int (*set_BodySarON)(int);
  int (*set_BodySarMode)(int);
  int (*get_BodySarMode)(int*);
  int (*set_BodySarProfile)(int);
  int (*set_BodySarClear)();
  int (*set_BodySarValue)(char*);
  int (*get_BodySarValue)(char*);
};

// Set 0. Rows 4 to 6 go out without a blank before the mask's quote: with it the library's table
// parser reads masks that name no band, and the rows would change nothing.
inline constexpr std::array<std::string_view, 10> kSet0Rows = {
    R"(1,235,"0x1")",  R"(1,235,"0x10")", R"(1,235,"0x80")",    R"(2,230,"0x1")",      R"(2,230,"0x4")",
    R"(2,230,"0x10")", R"(2,230,"0x40")", R"(2,230,"0x80")",    R"(2,230,"0x80000")",  R"(2,230,"0x8000000")",
};

inline constexpr std::array<std::string_view, 16> kSet1CheckRows = {
    R"(1,200,"0x1")",     R"(1,190,"0x2")",         R"(1,205,"0x8")",          R"(1,220,"0x10")",
    R"(2,200,"0x1")",     R"(2,195,"0x2")",         R"(2,190,"0x4")",          R"(2,200,"0x8")",
    R"(2,205,"0x40")",    R"(2,220,"0x800")",       R"(2,215,"0x1000")",       R"(2,220,"0x10000")",
    R"(2,220,"0x2000000")", R"(2,205,"0x20000000")", R"(2,215,"0x10000000000")", R"(2,220,"0x20000000000000000")",
};

inline constexpr std::array<std::string_view, 4> kSet1WriteRows = {
    R"(1,200,"0x1",190,"0x2",205,"0x8",220,"0x10")",
    R"(2,200,"0x1",195,"0x2",190,"0x4",200,"0x8",205,"0x40",220,"0x800",215,"0x1000")",
    R"(2,220,"0x10000",220,"0x2000000",205,"0x20000000")",
    R"(2,215,"0x10000000000",220,"0x20000000000000000")",
};

inline constexpr std::array<std::string_view, 21> kSet2CheckRows = {
    R"(1,195,"0x1")",        R"(1,185,"0x2")",          R"(1,195,"0x8")",           R"(1,215,"0x10")",
    R"(2,195,"0x1")",        R"(2,185,"0x2")",          R"(2,195,"0x4")",           R"(2,190,"0x8")",
    R"(2,220,"0x10")",       R"(2,200,"0x40")",         R"(2,230,"0x800")",         R"(2,225,"0x1000")",
    R"(2,225,"0x2000")",     R"(2,230,"0x10000")",      R"(2,185,"0x1000000")",     R"(2,220,"0x2000000")",
    R"(2,220,"0x8000000")",  R"(2,195,"0x20000000")",   R"(2,210,"0x2000000000")",  R"(2,210,"0x10000000000")",
    R"(2,190,"0x20000000000000000")",
};

inline constexpr std::array<std::string_view, 4> kSet2WriteRows = {
    R"(1,195,"0x1",185,"0x2",195,"0x8",215,"0x10")",
    R"(2,195,"0x1",185,"0x2",195,"0x4",190,"0x8",220,"0x10",200,"0x40",230,"0x800",225,"0x1000",225,"0x2000")",
    R"(2,230,"0x10000",185,"0x1000000",220,"0x2000000",220,"0x8000000",195,"0x20000000",210,"0x2000000000")",
    R"(2,210,"0x10000000000",190,"0x20000000000000000")",
};

struct CheckedSet {
  std::span<const std::string_view> check_rows;
  std::span<const std::string_view> write_rows;
};

// The waits before clearing and before writing, in milliseconds (scaled by TXL_TIME_SCALE).
inline constexpr unsigned kWaitBeforeClearMs = 120000;
inline constexpr unsigned kWaitBeforeWriteMs = 1000;

// The check rows absent from a read-back text (exact, case-sensitive substrings).
std::size_t MissingRows(std::string_view read_back, std::span<const std::string_view> check_rows);

// The machine-wide lock that one run of the tool holds from its first call to its last, so that
// two runs started together end with one whole set on the modem, never rows of both.
inline constexpr char16_t kRunLockName[] = u"Global\\TxlApply{3D9B6E21-7C4A-4F0E-9B52-A18C7E04D6F3}RunLock";

// Runs the tool for an argument whose first character is `first` (0 when there is no argument)
// and returns its exit code. Every run that calls the library holds kRunLockName meanwhile.
int Run(char16_t first, const KrillCalls& krill);

}  // namespace txlapply
