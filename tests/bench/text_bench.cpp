// The control library's text work: a table text parsed into each family's record, the read-back
// text formatted from it, and one API log line at "LOG_LV" -1 (nothing written, the settings file
// still read) and 2 (the line appended and flushed).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "api/support/global_tools.h"
#include "api/values/value_records.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// Every band the Osprey rows name for 3G and 4G, as one table text each.
const char kOsprey3G[] = R"(1,200,"0x1",190,"0x2",195,"0x8",205,"0x10",210,"0x80")";
const char kOsprey4G[] =
    R"(2,200,"0x1",190,"0x2",195,"0x4",205,"0x8",210,"0x10",200,"0x40",190,"0x80",215,"0x800",220,"0x1000",)"
    R"(200,"0x2000",205,"0x10000",190,"0x20000",195,"0x40000",200,"0x80000",225,"0x100000",230,"0x1000000",)"
    R"(200,"0x2000000",190,"0x8000000",200,"0x10000000",210,"0x20000000",220,"0x2000000000",215,"0x4000000000")";

void BM_TableTextParse(benchmark::State& state) {
  const bool kestrel = state.range(0) == 1;
  for (auto _ : state) {
    if (kestrel) {
      krill::ProfilePowerImage image{};
      benchmark::DoNotOptimize(krill::ApplyKestrelValueLists(krill::ParseKestrelValueLists(kOsprey4G), 1, &image));
      benchmark::DoNotOptimize(image);
    } else {
      krill::MaxTxPwrRecord record{};
      benchmark::DoNotOptimize(krill::ApplyOspreyValueLists(krill::ParseOspreyValueLists(kOsprey4G), &record));
      benchmark::DoNotOptimize(krill::ApplyOspreyValueLists(krill::ParseOspreyValueLists(kOsprey3G), &record));
      benchmark::DoNotOptimize(record);
    }
  }
  state.SetLabel(kestrel ? "Kestrel, 4G text into profile table 1" : "Osprey, 3G and 4G texts");
}

void BM_ReadBackFormat(benchmark::State& state) {
  const bool kestrel = state.range(0) == 1;
  krill::ProfilePowerImage image{};
  krill::ApplyKestrelValueLists(krill::ParseKestrelValueLists(kOsprey4G), 1, &image);
  krill::MaxTxPwrRecord record{};
  krill::ApplyOspreyValueLists(krill::ParseOspreyValueLists(kOsprey4G), &record);
  for (auto _ : state) {
    std::string text = kestrel ? krill::KestrelReadBackText(image, 1) : krill::OspreyReadBackText(record);
    benchmark::DoNotOptimize(text);
  }
  state.SetLabel(kestrel ? "Kestrel profile table 1" : "Osprey record");
}

// "fbconfig.ini" beside this program with LOG_LV as asked, removed with the log afterwards.
class LogSettings {
 public:
  explicit LogSettings(int level) : folder_(plat::Utf16ToUtf8(plat::FolderOf(plat::HostExecutablePath()))) {
    std::ofstream(folder_ / "fbconfig.ini") << "[BASE_CONFIG]\r\nLOG_LV=" << level << "\r\nLOG_PATH=KrillLog\r\n";
  }
  ~LogSettings() {
    std::error_code ec;
    fs::remove(folder_ / "fbconfig.ini", ec);
    fs::remove(folder_ / "UpdateDebugLog.log", ec);
  }

 private:
  fs::path folder_;
};

void BM_ApiLogLine(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  LogSettings settings(level);
  IGlobalTools::ILogEx* log = IGlobalTools::GetApiLog();
  int i = 0;
  for (auto _ : state) log->WriteLog(2, "[Information] benchmark line %d of the API log.", ++i);
  state.SetLabel("LOG_LV " + std::to_string(level));
}

}  // namespace

BENCHMARK(BM_TableTextParse)->Arg(0)->Arg(1)->ArgName("kestrel");
BENCHMARK(BM_ReadBackFormat)->Arg(0)->Arg(1)->ArgName("kestrel");
BENCHMARK(BM_ApiLogLine)->Arg(-1)->Arg(2)->ArgName("log_lv")->Unit(benchmark::kMicrosecond);
