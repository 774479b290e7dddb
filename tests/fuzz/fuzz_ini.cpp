// The INI reader behind modem.ini and "fbconfig.ini": the parser on its own, the simulated modem's
// configuration built from it, and the profile readers the control library's log configuration
// uses, which read the file from disk on every call.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ini.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "sim/modem_config.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  txlfuzz::ScratchRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);

  const plat::IniFile ini = plat::IniFile::Parse(text);
  for (const char* section : {"module", "services", "faults", "setupapi", "at_replies", "BASE_CONFIG"}) {
    if (!ini.HasSection(section)) continue;
    for (const std::string& key : ini.Keys(section)) {
      // Every key the file lists can be read back under its own spelling.
      if (!ini.Get(section, key)) __builtin_trap();
      (void)ini.GetInt(section, key, -1);
      (void)plat::ParseProfileInt(ini.GetString(section, key, ""));
    }
  }

  const sim::ModemConfig config = sim::ParseModemConfig(text);
  (void)config;

  // "fbconfig.ini" as the control library reads it: a file beside the program, read per call.
  // One input in eight: the disk is far slower than the parser, which the lines above cover.
  if (size % 8 != 0) return 0;
  static const std::u16string fbconfig = [] {
    const auto path = txlfuzz::ScratchRoot() / "fbconfig.ini";
    return plat::Utf8ToUtf16(path.string());
  }();
  txlfuzz::WriteFile(txlfuzz::ScratchRoot() / "fbconfig.ini", text);
  (void)plat::ReadProfileInt(fbconfig, u"BASE_CONFIG", u"LOG_LV", -1);
  (void)plat::ReadProfileString(fbconfig, u"BASE_CONFIG", u"LOG_PATH", u"KrillLog", 64);
  return 0;
}
