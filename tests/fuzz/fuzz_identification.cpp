// What the identification reads of the platform, from the input: the interface's capability texts
// (model, firmware, device id, manufacturer, custom data class), the SIM's ICCID and the Setup
// API's device instance ids, given to the simulated modem through its modem.ini. Then the
// identification with its firmware gate and probe, the own channel's check of the present
// devices, and get_ImeiInfo, which takes the device id as the IMEI when it is one.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "bridge/log/bridge_log.h"
#include "sim/testing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::filesystem::path g_dir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_dir = txlfuzz::MakeNotebook("identification", "");
  vexel::DebugLevel = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  static const char* const kFamilies[] = {"osprey", "kestrel", "other"};
  std::string ini = "[module]\nfamily=" + std::string(kFamilies[data.ConsumeIntegralInRange<int>(0, 2)]) + "\n";
  for (const char* key : {"model", "firmware", "imei", "manufacturer", "custom_data_class", "iccid"})
    if (data.ConsumeBool()) ini += std::string(key) + "=" + txlfuzz::IniValue(data.ConsumeRandomLengthString(96)) + "\n";
  const int devices = data.ConsumeIntegralInRange<int>(0, 3);
  ini += "[setupapi]\ncount=" + std::to_string(devices) + "\n";
  for (int i = 0; i < devices; ++i)
    ini += "device" + std::to_string(i) + "=" + txlfuzz::IniValue(data.ConsumeRandomLengthString(96)) + "\n";

  txlfuzz::ResetNotebook(g_dir);
  txlfuzz::WriteFile(g_dir / "modem" / "modem.ini", ini);
  txlfuzz::UseNotebook(g_dir);
  txlfuzz::ResetIdentification();

  unsigned int flag = 7;
  (void)krill::get_IsMBIMReadyV2Ex(&flag);
  std::vector<char> imei(16);  // the IMEI and its terminating zero, as the contract asks
  get_ImeiInfo(imei.data());
  krill::OwnChannelReadyCheck();
  sim::testing::ResetAll();
  return 0;
}
