// txlsim show: everything the notebook holds, as the modem and the suite would read it.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/machine.h"
#include "sim/modem_config.h"
#include "sim/nvm_store.h"
#include "sim/services/body_sar_settings.h"
#include "sim/services/ms_sar_service.h"
#include "sim/services/sar_param_item.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

namespace {

namespace fs = std::filesystem;
using sim::ModemFamily;
using sim::ServiceKind;

// Power words are signed sixteenths of a dBm.
std::string Dbm(std::uint16_t word) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g dBm", static_cast<std::int16_t>(word) / 16.0);
  return buf;
}

void ShowOspreyTables(const std::vector<std::uint8_t>& item) {
  using namespace sim::services;
  plat::LeReader r(item);
  for (std::size_t profile = 0; profile < 2; ++profile) {
    std::printf("  profile %zu:\n", profile);
    const std::size_t blocks[2] = {kOsprey3gBlock, kOsprey4gBlock};
    const std::size_t capacity[2] = {kOsprey3gCapacity, kOsprey4gCapacity};
    for (int b = 0; b < 2; ++b) {
      const std::size_t at = kOspreyProfileOffset[profile] + blocks[b];
      if (at + 4 > item.size()) {
        std::printf("    %s block: item too short\n", b == 0 ? "3G" : "4G");
        continue;
      }
      const std::uint16_t count = r.U16(at + 2);
      std::printf("    %s block: rat %u, pOverrideFlag %u, numOverrideElts %u\n", b == 0 ? "3G" : "4G", item[at],
                  item[at + 1], count);
      // A count past the block's capacity would read the next block as elements.
      const std::size_t shown = count < capacity[b] ? count : capacity[b];
      for (std::size_t e = 0; e < shown; ++e) {
        const std::size_t el = at + 4 + e * kOspreyElementSize;
        if (el + kOspreyElementSize > item.size()) break;
        std::printf("      [%zu] band %u: A %s, B %s, C %s, D %s\n", e, r.U16(el), Dbm(r.U16(el + 4)).c_str(),
                    Dbm(r.U16(el + 6)).c_str(), Dbm(r.U16(el + 8)).c_str(), Dbm(r.U16(el + 10)).c_str());
      }
    }
  }
}

void ShowKestrelTables(const std::vector<std::uint8_t>& item) {
  using namespace sim::services;
  plat::LeReader words(item);
  for (std::size_t table = 0; table < 3; ++table) {
    std::printf("  table %zu:\n", table);
    const std::size_t base = kKestrelTableOffset[table];
    if (base + kKestrelTableSize > item.size()) {
      std::printf("    item too short\n");
      continue;
    }
    const struct {
      const char* rat;
      std::size_t first_word;
      std::size_t bands;
    } rats[] = {{"3G", kKestrel3gWord, kKestrel3gBands}, {"4G", kKestrel4gWord, kKestrel4gBands}};
    for (const auto& r : rats) {
      for (std::size_t band = 1; band <= r.bands; ++band) {
        const std::uint16_t w = words.U16(base + 2 * (r.first_word + band - 1));
        if (w != 0) std::printf("    %s band %zu: %s\n", r.rat, band, Dbm(w).c_str());
      }
    }
  }
}

std::string RegistryValue(plat::RegistryKey* key, const char16_t* name) {
  if (!key) return "absent";
  plat::DWORD dw = 0;
  if (key->QueryDword(name, &dw) == plat::ERROR_SUCCESS) return std::to_string(dw);
  std::u16string s;
  if (key->QueryString(name, &s) == plat::ERROR_SUCCESS) return "\"" + plat::Utf16ToUtf8(s) + "\"";
  return "absent";
}

}  // namespace

int Show() {
  const fs::path dir = plat::MachineDir();
  const sim::ModemConfig c = sim::LoadModemConfig(dir);
  std::printf("machine folder: %s\n", PathText(dir).c_str());
  std::printf("modem.ini: %s\n", fs::exists(dir / "modem" / "modem.ini") ? "present" : "absent (embedded default)");
  std::printf("module:\n  family %s\n  model %s\n  firmware %s\n  IMEI %s\n  manufacturer %s\n  interfaces %u\n"
              "  ready state %d\n",
              FamilyName(c.family), c.model.c_str(), c.firmware.c_str(), c.imei.c_str(), c.manufacturer.c_str(),
              c.interfaces, c.ready_state);

  std::string present;
  for (std::size_t i = 0; i < sim::kServiceCount; ++i) {
    const auto kind = static_cast<ServiceKind>(i);
    if (c.HasService(kind)) present += (present.empty() ? "" : ", ") + std::string(sim::ServiceName(kind));
  }
  std::printf("services: %s\n", present.empty() ? "none" : present.c_str());

  std::vector<std::string> faults;
  const char* op_names[] = {"open", "close", "query", "set"};
  for (std::size_t s = 0; s < sim::kServiceCount; ++s) {
    const std::string svc(sim::ServiceName(static_cast<ServiceKind>(s)));
    for (std::size_t o = 0; o < sim::kOpCount; ++o) {
      const sim::OpFault& f = c.faults.ops[s][o];
      const std::string where = svc + "." + op_names[o];
      if (f.drop) faults.push_back(where + " dropped");
      if (f.fail) {
        char hr[16];
        std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(*f.fail));
        faults.push_back(where + " fails " + hr);
      }
      if (f.empty) faults.push_back(where + " answers empty");
    }
    if (c.faults.session_open[s]) faults.push_back(svc + " session reports open");
    if (c.faults.request_id_mismatch[s]) faults.push_back(svc + " request id mismatch");
  }
  if (c.faults.latency_ms) faults.push_back("latency " + std::to_string(c.faults.latency_ms) + " ms");
  if (c.faults.get_interfaces) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(*c.faults.get_interfaces));
    faults.push_back(std::string("GetInterfaces fails ") + hr);
  }
  std::printf("faults:%s\n", faults.empty() ? " none" : "");
  for (const auto& f : faults) std::printf("  %s\n", f.c_str());
  for (const auto& r : c.at_replies) std::printf("  AT reply for \"%s\" replaced\n", r.prefix.c_str());

  const sim::NvmStore nvm(dir, c.family);
  const auto item = nvm.ReadItem(sim::services::kSarParamItem);
  int rc = 0;
  if (!item) {
    // A folder or an unreadable file where the item should be: said, and the rest still shown.
    const std::string path = PathText(nvm.ItemPath(sim::services::kSarParamItem));
    std::printf("SAR parameter item: cannot be read (%s is no readable file)\n", path.c_str());
    std::fprintf(stderr, "txlsim: %s is no readable file\n", path.c_str());
    rc = 1;
  } else if (item->size() < 2) {
    std::printf("SAR parameter item: absent on this module\n");
  } else {
    std::printf("NVM flags: enable %u, polarity %u (%s)\n", (*item)[0], (*item)[1],
                fs::exists(nvm.ItemPath(sim::services::kSarParamItem)) ? "written" : "factory");
    std::printf("power tables:\n");
    if (c.family == ModemFamily::kOsprey) ShowOspreyTables(*item);
    if (c.family == ModemFamily::kKestrel) ShowKestrelTables(*item);
  }

  const sim::services::BodySarSettings settings(dir);
  const auto on = settings.On();
  const auto profile = settings.Profile();
  std::printf("firmware: ON %s, PROFILE %s\n", on ? std::to_string(*on).c_str() : "unreadable",
              profile ? std::to_string(*profile).c_str() : "unreadable");

  const std::string ms = ReadText(dir / "modem" / "ms_sar.bin");
  const auto state = ms.empty() ? std::optional<sim::services::MsSarState>(sim::services::MsSarState{})
                                : sim::services::DecodeMsSarSet(sim::Bytes(ms.begin(), ms.end()));
  if (state) {
    std::printf("MS SAR state%s: mode %u, backoff_status %u", ms.empty() ? " (never set)" : "", state->mode,
                state->backoff_status);
    for (const auto& a : state->states) std::printf(", antenna %u at back-off index %u", a.antenna_index, a.backoff_index);
    std::printf("\n");
  } else {
    std::printf("MS SAR state: unreadable (%zu bytes)\n", ms.size());
  }

  std::unique_ptr<plat::RegistryKey> key;
  if (plat::OpenRegistryKey(plat::RegistryHive::kLocalMachine, u"SOFTWARE\\OEM\\Corvid\\SAR", &key) !=
      plat::ERROR_SUCCESS)
    key.reset();
  std::printf("registry HKLM\\SOFTWARE\\OEM\\Corvid\\SAR:\n  Body_Sar_ON %s\n  Body_Sar_Profile %s\n",
              RegistryValue(key.get(), u"Body_Sar_ON").c_str(), RegistryValue(key.get(), u"Body_Sar_Profile").c_str());
  return rc;
}

}  // namespace txlsim
