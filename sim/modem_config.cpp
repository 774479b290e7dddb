#include "sim/modem_config.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/com.h"
#include "platform/ini.h"
#include "platform/text.h"

namespace sim {

namespace {

// More interfaces than any notebook carries is certainly a typing error.
constexpr std::uint32_t kMaxInterfaces = 64;

constexpr std::array<std::u16string_view, kServiceCount> kServiceIds = {
    u"{68223D04-9F6C-4E0F-822D-28441FB72340}",  // ms_sar
    u"{E10FF51B-AC2D-4104-86F6-8D621B430189}",  // nvm
    u"{DA138C64-6515-4893-92B2-A1E1CA7C81CA}",  // at_tunnel
    u"{FFFFFFFF-ABCA-4B11-A4E2-F2FC87F94488}",  // at_command
};
constexpr std::array<std::string_view, kServiceCount> kServiceNames = {"ms_sar", "nvm", "at_tunnel", "at_command"};
constexpr std::array<std::string_view, kOpCount> kOpNames = {"open", "close", "query", "set"};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A whole unsigned 32-bit number, decimal or 0x-prefixed hexadecimal.
std::optional<std::uint32_t> ParseU32(std::string_view text) {
  text = Trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  std::uint32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<ServiceKind> ServiceFromName(std::string_view name) {
  for (std::size_t i = 0; i < kServiceCount; ++i)
    if (plat::EqualsIgnoreCaseAscii(name, kServiceNames[i])) return static_cast<ServiceKind>(i);
  return std::nullopt;
}

std::optional<ServiceOp> OpFromName(std::string_view name) {
  for (std::size_t i = 0; i < kOpCount; ++i)
    if (plat::EqualsIgnoreCaseAscii(name, kOpNames[i])) return static_cast<ServiceOp>(i);
  return std::nullopt;
}

std::vector<std::string_view> SplitList(std::string_view text) {
  std::vector<std::string_view> items;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    if (!item.empty()) items.push_back(item);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return items;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case '"':
      case '\\':
        out += text[i];
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

class Reader {
 public:
  Reader(const plat::IniFile& ini, ModemConfig* cfg) : ini_(ini), cfg_(cfg) {}

  void Warn(std::string message) { cfg_->warnings.push_back(std::move(message)); }

  void Bad(std::string_view section, std::string_view key, std::string_view value, std::string_view why) {
    Warn("[" + std::string(section) + "] " + std::string(key) + "=" + std::string(value) + ": " + std::string(why) +
         "; the default stands");
  }

  void String(std::string_view key, std::string* out) {
    if (auto v = ini_.Get("module", key)) *out = *v;
  }

  template <class T>
  void Number(std::string_view section, std::string_view key, std::uint32_t max, T* out) {
    const auto v = ini_.Get(section, key);
    if (!v) return;
    const auto n = ParseU32(*v);
    if (!n || *n > max) {
      Bad(section, key, *v, "expected a number from 0 to " + std::to_string(max));
      return;
    }
    *out = static_cast<T>(*n);
  }

  void Services() {
    for (std::size_t i = 0; i < kServiceCount; ++i) {
      const auto v = ini_.Get("services", kServiceNames[i]);
      if (!v) continue;
      const std::string_view t = Trim(*v);
      if (t == "0" || t == "1")
        cfg_->services[i] = t == "1";
      else
        Bad("services", kServiceNames[i], *v, "expected 0 or 1");
    }
  }

  // drop, fail and empty: SERVICE:OP selectors; only fail may carry "=STATUS".
  void OpSelectors(std::string_view key) {
    const auto v = ini_.Get("faults", key);
    if (!v) return;
    for (const std::string_view item : SplitList(*v)) {
      const auto colon = item.find(':');
      const auto eq = item.find('=');
      const std::string_view service_name = Trim(item.substr(0, colon));
      const std::string_view op_name =
          colon == std::string_view::npos ? std::string_view() : Trim(item.substr(colon + 1, eq - colon - 1));
      const auto service = ServiceFromName(service_name);
      const auto op = OpFromName(op_name);
      if (colon == std::string_view::npos || (eq != std::string_view::npos && eq < colon) || !service || !op) {
        Bad("faults", key, item,
            "expected SERVICE:OP with SERVICE one of ms_sar, nvm, at_tunnel, at_command "
            "and OP one of open, close, query, set");
        continue;
      }
      OpFault& fault = cfg_->faults.ops[Index(*service)][Index(*op)];
      if (key == "fail") {
        plat::HRESULT status = plat::E_FAIL;
        if (eq != std::string_view::npos) {
          const auto n = ParseU32(item.substr(eq + 1));
          if (!n) {
            Bad("faults", key, item, "the status is not a number");
            continue;
          }
          status = static_cast<plat::HRESULT>(*n);
        }
        fault.fail = status;
      } else if (eq != std::string_view::npos) {
        Bad("faults", key, item, "only fail takes a status");
      } else if (key == "drop") {
        fault.drop = true;
      } else {
        fault.empty = true;
      }
    }
  }

  // session_open and request_id_mismatch: service names.
  void ServiceSelectors(std::string_view key, std::array<bool, kServiceCount>* out) {
    const auto v = ini_.Get("faults", key);
    if (!v) return;
    for (const std::string_view item : SplitList(*v)) {
      if (const auto service = ServiceFromName(item))
        (*out)[Index(*service)] = true;
      else
        Bad("faults", key, item, "not a service (ms_sar, nvm, at_tunnel, at_command)");
    }
  }

  void GetInterfacesFault() {
    const auto v = ini_.Get("faults", "get_interfaces");
    if (!v) return;
    const auto n = ParseU32(*v);
    if (!n) {
      Bad("faults", "get_interfaces", *v, "not an HRESULT");
    } else if (plat::Succeeded(static_cast<plat::HRESULT>(*n))) {
      Bad("faults", "get_interfaces", *v, "a success code is no failure");
    } else {
      cfg_->faults.get_interfaces = static_cast<plat::HRESULT>(*n);
    }
  }

  void SetupApi() {
    if (!ini_.HasSection("setupapi")) return;
    std::vector<std::string> devices;
    const auto count_text = ini_.Get("setupapi", "count");
    std::optional<std::uint32_t> count;
    if (count_text) {
      count = ParseU32(*count_text);
      if (!count || *count > kMaxInterfaces) {
        Bad("setupapi", "count", *count_text, "expected a number from 0 to " + std::to_string(kMaxInterfaces));
        return;
      }
    }
    if (count) {
      for (std::uint32_t i = 0; i < *count; ++i) {
        const std::string key = "device" + std::to_string(i);
        if (auto v = ini_.Get("setupapi", key))
          devices.push_back(*v);
        else
          Warn("[setupapi] " + key + " is missing; the list goes on without it");
      }
    } else {
      // Without a count the list is device0, device1, ... up to the first gap.
      for (std::uint32_t i = 0; i < kMaxInterfaces; ++i) {
        auto v = ini_.Get("setupapi", "device" + std::to_string(i));
        if (!v) break;
        devices.push_back(*v);
      }
    }
    cfg_->setupapi_devices = std::move(devices);
  }

  // A value may carry \r, \n, \" and \\; any other backslash is most likely a typing error, and
  // guessing what was meant would give the tests a reply they did not write.
  void AtReplies() {
    for (const std::string& key : ini_.Keys("at_replies")) {
      const std::string value = ini_.Get("at_replies", key).value_or("");
      if (key.empty()) {
        Warn("[at_replies] a reply without a command prefix, ignored");
        continue;
      }
      bool seen = false;
      for (const AtReply& r : cfg_->at_replies) seen = seen || plat::EqualsIgnoreCaseAscii(r.prefix, key);
      if (seen) {
        Warn("[at_replies] " + key + ": given twice; the first stands");
        continue;
      }
      if (auto reply = Unescape(value))
        cfg_->at_replies.push_back(AtReply{key, std::move(*reply)});
      else
        Bad("at_replies", key, value, "only \\r, \\n, \\\" and \\\\ may follow a backslash");
    }
  }

  void UnknownKeys() {
    static const std::array<std::pair<std::string_view, std::vector<std::string_view>>, 3> kKnown = {{
        {"module",
         {"interfaces", "family", "model", "firmware", "imei", "manufacturer", "custom_data_class", "iccid",
          "subscriber_id", "ready_state"}},
        {"services", {"ms_sar", "nvm", "at_tunnel", "at_command"}},
        {"faults", {"drop", "fail", "empty", "session_open", "request_id_mismatch", "latency_ms", "get_interfaces"}},
    }};
    for (const auto& [section, keys] : kKnown) {
      for (const std::string& key : ini_.Keys(section)) {
        bool known = false;
        for (const auto k : keys) known = known || plat::EqualsIgnoreCaseAscii(k, key);
        if (!known) Warn("[" + std::string(section) + "] " + key + ": unknown key, ignored");
      }
    }
  }

 private:
  const plat::IniFile& ini_;
  ModemConfig* cfg_;
};

}  // namespace

ModemConfig DefaultModemConfig(ModemFamily family) {
  ModemConfig c;
  c.family = family;
  c.imei = "356938035643809";
  c.manufacturer = "Simulated Modem Co";
  c.iccid = "89014103211118510720";
  c.subscriber_id = "310410123456789";
  switch (family) {
    case ModemFamily::kOsprey:
      c.model = "Osprey LTE Module";
      c.firmware = "41400.1000.00.04.01.13";
      c.setupapi_devices = {"PCI\\VEN_1D5A&DEV_5140&SUBSYS_51401D5A&REV_00\\4&2A6C3F18&0&00E8"};
      break;
    case ModemFamily::kKestrel:
      c.model = "Kestrel LTE Module";
      c.firmware = "41200.1000.00.02.10";
      c.setupapi_devices = {"PCI\\VEN_1D5A&DEV_5120&SUBSYS_51201D5A&REV_00\\4&2A6C3F18&0&00E8"};
      break;
    case ModemFamily::kOther:
      c.model = "Generic LTE Module";
      c.firmware = "G2.7.1-0413";
      break;
  }
  return c;
}

ModemConfig ParseModemConfig(std::string_view ini_text) {
  const plat::IniFile ini = plat::IniFile::Parse(ini_text);
  std::vector<std::string> warnings;
  for (const std::string& p : ini.problems()) warnings.push_back("line " + p + ": not a section nor key=value");

  ModemFamily family = ModemFamily::kOsprey;
  if (const auto v = ini.Get("module", "family")) {
    const std::string_view t = Trim(*v);
    if (plat::EqualsIgnoreCaseAscii(t, "osprey"))
      family = ModemFamily::kOsprey;
    else if (plat::EqualsIgnoreCaseAscii(t, "kestrel"))
      family = ModemFamily::kKestrel;
    else if (plat::EqualsIgnoreCaseAscii(t, "other"))
      family = ModemFamily::kOther;
    else
      warnings.push_back("[module] family=" + *v + ": expected osprey, kestrel or other; the default stands");
  }

  ModemConfig cfg = DefaultModemConfig(family);
  cfg.warnings = std::move(warnings);
  Reader r(ini, &cfg);
  r.Number("module", "interfaces", kMaxInterfaces, &cfg.interfaces);
  r.String("model", &cfg.model);
  r.String("firmware", &cfg.firmware);
  r.String("imei", &cfg.imei);
  r.String("manufacturer", &cfg.manufacturer);
  r.String("custom_data_class", &cfg.custom_data_class);
  r.String("iccid", &cfg.iccid);
  r.String("subscriber_id", &cfg.subscriber_id);
  r.Number("module", "ready_state", 8, &cfg.ready_state);  // MBN_READY_STATE runs to 8
  r.Services();
  r.OpSelectors("drop");
  r.OpSelectors("fail");
  r.OpSelectors("empty");
  r.ServiceSelectors("session_open", &cfg.faults.session_open);
  r.ServiceSelectors("request_id_mismatch", &cfg.faults.request_id_mismatch);
  r.Number("faults", "latency_ms", 600000, &cfg.faults.latency_ms);
  r.GetInterfacesFault();
  r.SetupApi();
  r.AtReplies();
  r.UnknownKeys();
  return cfg;
}

ModemConfig LoadModemConfig(const std::filesystem::path& machine_dir) {
  const std::filesystem::path file = machine_dir / "modem" / "modem.ini";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return DefaultModemConfig(ModemFamily::kOsprey);
  ModemConfig cfg;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in && std::filesystem::is_regular_file(file, ec) && (text << in.rdbuf())) {
    cfg = ParseModemConfig(text.str());
  } else {
    cfg = DefaultModemConfig(ModemFamily::kOsprey);
    cfg.warnings.push_back("cannot be read; the default modem serves");
  }
  const std::string name = plat::Utf16ToUtf8(file.u16string());
  for (const std::string& w : cfg.warnings) std::fprintf(stderr, "txl-sim: %s: %s\n", name.c_str(), w.c_str());
  return cfg;
}

std::u16string InterfaceId(std::uint32_t index) {
  const plat::GUID g = {
      0x4D0C8E52u + index,
      0x7A1F,
      0x4B3E,
      {0x9D, 0x62, 0xA1, 0xB2, 0xC3, 0xD4, static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)}};
  return plat::GuidToString(g);
}

std::string_view ServiceName(ServiceKind kind) { return kServiceNames[Index(kind)]; }

std::u16string_view ServiceId(ServiceKind kind) { return kServiceIds[Index(kind)]; }

std::optional<ServiceKind> ServiceKindFromId(std::u16string_view id) {
  plat::GUID wanted{};
  if (!plat::GuidFromString(id, &wanted)) return std::nullopt;
  for (std::size_t i = 0; i < kServiceCount; ++i) {
    plat::GUID g{};
    if (plat::GuidFromString(kServiceIds[i], &g) && g == wanted) return static_cast<ServiceKind>(i);
  }
  return std::nullopt;
}

}  // namespace sim
