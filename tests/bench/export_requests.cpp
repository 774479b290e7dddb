// How many device-service requests each export of the control library makes on one module
// family, counted in the simulated modem's trace: the sessions opened, the queries and sets, the
// data-session requests, beside the fewest its specified sequence makes. Each export runs on a
// notebook already identified (one get_IsMBIMReady before counting). The bridge's console lines
// are dropped; the table is the program's output.
//
//   txl_export_requests osprey|kestrel     one line per export: opens, queries, sets, data, result,
//                                          fewest opens/queries/sets, "(more)" when above them
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/exports.h"
#include "platform/process.h"
#include "platform/launch.h"

namespace {

namespace fs = std::filesystem;

struct Counts {
  int opens = 0, queries = 0, sets = 0, data = 0;
};

// An export, and the fewest sessions, queries and sets its specified sequence makes on an Osprey
// and on a Kestrel module: the readiness probe of its identification (two sessions, nothing sent),
// then its own commands, each bridge command opening the sessions it uses.
struct Export {
  const char* name;
  std::function<int()> call;
  Counts osprey;
  Counts kestrel;
};

// The trace's requests from line `from` on.
Counts Count(const fs::path& trace, std::size_t from, std::size_t* lines) {
  Counts c;
  std::ifstream in(trace);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line); ++n) {
    if (n < from) continue;
    if (line.find("\"op\":\"open\"") != std::string::npos) ++c.opens;
    else if (line.find("\"op\":\"query\"") != std::string::npos) ++c.queries;
    else if (line.find("\"op\":\"set\"") != std::string::npos) ++c.sets;
    else if (line.find("_data\"") != std::string::npos) ++c.data;
  }
  *lines = n;
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string family = argc == 2 ? argv[1] : "";
  if (family != "osprey" && family != "kestrel") {
    std::fprintf(stderr, "usage: txl_export_requests osprey|kestrel\n");
    return 64;
  }
  const std::unique_ptr<plat::OwnOutput> own = plat::DivertStandardOutput(false);
  const auto print = [&own](const std::string& text) {
    if (!own || !own->Write(text)) std::fputs(text.c_str(), stderr);
  };
  std::error_code ec;
  const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path dir = base / ("txl-requests-" + std::to_string(plat::CurrentProcessId()));
  fs::remove_all(dir, ec);
  fs::create_directories(dir / "modem");
  std::ofstream(dir / "modem" / "modem.ini") << "[module]\nfamily=" << family << "\n";
  plat::SetEnv("TXL_MACHINE_DIR", dir.string().c_str());
  plat::SetEnv("TXL_SIM_TRACE", "1");
  const fs::path trace = dir / "modem" / "trace.jsonl";

  unsigned int ready = 0;
  get_IsMBIMReady(&ready);
  static char text[kBodySarValueTextBytes];
  const std::vector<Export> exports = {
      {"get_IsMBIMReady", [] { unsigned int v = 0; return get_IsMBIMReady(&v); }, {2, 0, 0}, {2, 0, 0}},
      {"get_BodySarEnable", [] { int v = 0; return get_BodySarEnable(&v); }, {3, 1, 0}, {3, 1, 0}},
      {"set_BodySarEnable", [] { return set_BodySarEnable(1); }, {4, 0, 2}, {4, 0, 2}},
      {"get_BodySarON", [] { int v = 0; return get_BodySarON(&v); }, {2, 0, 0}, {2, 0, 0}},
      {"set_BodySarON", [] { return set_BodySarON(1); }, {3, 0, 1}, {3, 0, 1}},
      {"get_BodySarMode", [] { int v = 0; return get_BodySarMode(&v); }, {3, 1, 0}, {3, 1, 0}},
      {"set_BodySarMode", [] { return set_BodySarMode(1); }, {3, 0, 1}, {3, 0, 1}},
      {"get_BodySarProfile", [] { unsigned int v = 0; return get_BodySarProfile(&v); }, {2, 0, 0}, {2, 0, 0}},
      {"set_BodySarProfile", [] { return set_BodySarProfile(1); }, {2, 0, 0}, {2, 0, 0}},
      // Kestrel: the profile is asked for first, itself an export with its own identification.
      {"get_BodySarValue", [] { return get_BodySarValue(text); }, {3, 1, 0}, {5, 1, 0}},
      // The record is read first, then the bridge reads and writes the table.
      {"set_BodySarValue",
       [] {
         std::snprintf(text, sizeof text, "%s", R"(1,200,"0x1")");
         return set_BodySarValue(text);
       },
       {4, 2, 1}, {6, 2, 1}},
      // Enable (MS SAR set and NVM write), mode (NVM write), two table writes (read and write each).
      {"set_BodySarClear", [] { return set_BodySarClear(); }, {7, 2, 5}, {7, 2, 5}},
      // The IMEI the identification stored: no request.
      {"get_ImeiInfo", [] { return get_ImeiInfo(text); }, {0, 0, 0}, {0, 0, 0}},
  };
  std::size_t lines = 0;
  Count(trace, 0, &lines);
  for (const Export& e : exports) {
    const std::size_t from = lines;
    const int result = e.call();
    const Counts c = Count(trace, from, &lines);
    const Counts& f = family == "osprey" ? e.osprey : e.kestrel;
    const bool fewest = c.opens == f.opens && c.queries == f.queries && c.sets == f.sets && c.data == 0;
    char row[200];
    std::snprintf(row, sizeof row, "%-8s %-20s %5d %7d %4d %5d %6d   %d/%d/%d%s\n", family.c_str(), e.name, c.opens,
                  c.queries, c.sets, c.data, result, f.opens, f.queries, f.sets, fewest ? "" : "  (more)");
    print(row);
  }
  fs::remove_all(dir, ec);
  return 0;
}
