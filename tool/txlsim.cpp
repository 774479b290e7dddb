// txlsim: the simulated notebook seen and changed from outside the suite, through the simulator's
// own readers so that what it shows is what the modem would answer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "sim/modem_config.h"
#include "sim/nvm_store.h"
#include "sim/services/body_sar_settings.h"
#include "sim/services/ms_sar_service.h"
#include "sim/services/sar_param_item.h"
#include "sim/sim.h"
#include "tool/txlsim_service.h"

namespace {

namespace fs = std::filesystem;
using sim::ModemFamily;
using sim::ServiceKind;

constexpr int kUsageExit = 2;

const char kHelp[] =
    "usage: txlsim COMMAND\n"
    "\n"
    "Inspects and configures the simulated notebook in $TXL_MACHINE_DIR.\n"
    "\n"
    "  show                     machine folder, module, services, faults, NVM flags, the power\n"
    "                           tables of every profile in dBm, the firmware's switches, the stored\n"
    "                           MS SAR state and the suite's registry values\n"
    "  reset                    back to factory state: removes modem/nvm/*.bin and the modem's\n"
    "                           state files; modem.ini, the trace and the registry are kept\n"
    "  set SECTION.KEY=VALUE    edits modem/modem.ini (created when absent), keeping everything else\n"
    "  trace                    modem/trace.jsonl decoded, one line per request\n"
    "  --help                   this text\n"
    "\n"
    "Exit codes: 0 done, 1 failed, 2 command line refused.\n";

std::string PathText(const fs::path& p) { return plat::Utf16ToUtf8(p.u16string()); }

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const char* FamilyName(ModemFamily f) {
  switch (f) {
    case ModemFamily::kOsprey:
      return "osprey";
    case ModemFamily::kKestrel:
      return "kestrel";
    default:
      return "other";
  }
}

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Power words are signed sixteenths of a dBm.
std::string Dbm(std::uint16_t word) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g dBm", static_cast<std::int16_t>(word) / 16.0);
  return buf;
}

// ---- show -------------------------------------------------------------------------------------------

void ShowOspreyTables(const std::vector<std::uint8_t>& item) {
  using namespace sim::services;
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
      const std::uint16_t count = U16(item, at + 2);
      std::printf("    %s block: rat %u, pOverrideFlag %u, numOverrideElts %u\n", b == 0 ? "3G" : "4G", item[at],
                  item[at + 1], count);
      // A count past the block's capacity would read the next block as elements.
      const std::size_t shown = count < capacity[b] ? count : capacity[b];
      for (std::size_t e = 0; e < shown; ++e) {
        const std::size_t el = at + 4 + e * kOspreyElementSize;
        if (el + kOspreyElementSize > item.size()) break;
        std::printf("      [%zu] band %u: A %s, B %s, C %s, D %s\n", e, U16(item, el), Dbm(U16(item, el + 4)).c_str(),
                    Dbm(U16(item, el + 6)).c_str(), Dbm(U16(item, el + 8)).c_str(), Dbm(U16(item, el + 10)).c_str());
      }
    }
  }
}

void ShowKestrelTables(const std::vector<std::uint8_t>& item) {
  using namespace sim::services;
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
        const std::uint16_t w = U16(item, base + 2 * (r.first_word + band - 1));
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
  if (ms.size() == 28) {
    const std::vector<std::uint8_t> b(ms.begin(), ms.end());
    std::printf("MS SAR state: mode %u, backoff_status %u, elements %u, offset %u, size %u, antenna %u, "
                "backoff index %u\n",
                U32(b, 0), U32(b, 4), U32(b, 8), U32(b, 12), U32(b, 16), U32(b, 20), U32(b, 24));
  } else if (ms.empty()) {
    const sim::services::MsSarState d;
    std::printf("MS SAR state: never set (mode %u, backoff_status %u, antenna %u, backoff index %u)\n", d.mode,
                d.backoff_status, d.antenna_index, d.backoff_index);
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

// ---- reset ------------------------------------------------------------------------------------------

int Reset() {
  const fs::path modem = plat::MachineDir() / "modem";
  std::vector<fs::path> doomed;
  std::error_code ec;
  if (fs::is_directory(modem / "nvm", ec))
    for (const auto& e : fs::directory_iterator(modem / "nvm", ec))
      if (e.path().extension() == ".bin") doomed.push_back(e.path());
  for (const char* name : {"body_sar_on.bin", "body_sar_profile.bin", "ms_sar.bin"})
    if (fs::exists(modem / name, ec)) doomed.push_back(modem / name);
  int rc = 0;
  for (const auto& p : doomed) {
    if (fs::remove(p, ec)) {
      std::printf("removed %s\n", PathText(p).c_str());
    } else {
      std::fprintf(stderr, "txlsim: cannot remove %s\n", PathText(p).c_str());
      rc = 1;
    }
  }
  if (doomed.empty()) std::printf("nothing to remove: the modem is in factory state\n");
  return rc;
}

// ---- set --------------------------------------------------------------------------------------------

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) { return plat::EqualsIgnoreCaseAscii(a, b); }

// The ini text with section.key set to value; every other line kept as it was.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::vector<std::string> lines;
  {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  const bool crlf = text.find("\r\n") != std::string::npos;
  const std::string entry = key + "=" + value + (crlf ? "\r" : "");
  bool in_section = false;
  bool replaced = false;
  std::optional<std::size_t> last_of_section;  // where a new key of the section goes
  for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
    const std::string_view t = Trim(lines[i]);
    if (!t.empty() && t.front() == '[') {
      const auto close = t.find(']');
      in_section = close != std::string_view::npos && SameName(Trim(t.substr(1, close - 1)), section);
      if (in_section) last_of_section = i;
      continue;
    }
    if (!in_section || t.empty() || t.front() == ';' || t.front() == '#') continue;
    last_of_section = i;
    const auto eq = t.find('=');
    if (eq != std::string_view::npos && SameName(Trim(t.substr(0, eq)), key)) {
      lines[i] = entry;
      replaced = true;
    }
  }
  if (!replaced && last_of_section) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*last_of_section) + 1, entry);
  } else if (!replaced) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back(crlf ? "\r" : "");
    lines.push_back("[" + section + "]" + (crlf ? "\r" : ""));
    lines.push_back(entry);
  }
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += '\n';
  }
  return out;
}

int Set(const std::string& arg) {
  const auto dot = arg.find('.');
  const auto eq = arg.find('=');
  if (dot == std::string::npos || eq == std::string::npos || dot > eq) {
    std::fprintf(stderr, "txlsim: '%s' is not SECTION.KEY=VALUE (txlsim --help)\n", arg.c_str());
    return kUsageExit;
  }
  const std::string section(Trim(std::string_view(arg).substr(0, dot)));
  const std::string key(Trim(std::string_view(arg).substr(dot + 1, eq - dot - 1)));
  const std::string value(Trim(std::string_view(arg).substr(eq + 1)));
  if (section.empty() || key.empty() || section.find_first_of("[]\r\n") != std::string::npos ||
      key.find_first_of("[]=;#\r\n") != std::string::npos || value.find_first_of("\r\n") != std::string::npos) {
    std::fprintf(stderr, "txlsim: '%s' is not SECTION.KEY=VALUE with a non-empty section and key (txlsim --help)\n",
                 arg.c_str());
    return kUsageExit;
  }
  const fs::path ini = plat::MachineDir() / "modem" / "modem.ini";
  std::error_code ec;
  fs::create_directories(ini.parent_path(), ec);
  const std::string before = ReadText(ini);
  const std::string after = SetIniValue(before, section, key, value);
  // Written beside and renamed over, so a reader never sees half a file.
  const fs::path tmp = ini.parent_path() / "modem.ini.txlsim-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(after.data(), static_cast<std::streamsize>(after.size()));
    if (!out) {
      std::fprintf(stderr, "txlsim: cannot write %s\n", PathText(tmp).c_str());
      return 1;
    }
  }
  fs::rename(tmp, ini, ec);
  if (ec) {
    std::fprintf(stderr, "txlsim: cannot replace %s\n", PathText(ini).c_str());
    fs::remove(tmp, ec);
    return 1;
  }
  std::printf("%s: [%s] %s=%s\n", PathText(ini).c_str(), section.c_str(), key.c_str(), value.c_str());
  return 0;
}

// ---- trace ------------------------------------------------------------------------------------------

// The string value of "name" in one trace line (the simulator escapes only '"', '\\' and controls).
std::optional<std::string> JsonField(const std::string& line, const std::string& name) {
  const std::string tag = "\"" + name + "\":";
  auto at = line.find(tag);
  if (at == std::string::npos) return std::nullopt;
  at += tag.size();
  if (at < line.size() && line[at] != '"') {
    const auto end = line.find_first_of(",}", at);
    if (end == std::string::npos) return std::nullopt;
    return line.substr(at, end - at);
  }
  std::string out;
  for (++at; at < line.size(); ++at) {
    const char ch = line[at];
    if (ch == '"') return out;
    if (ch == '\\' && at + 1 < line.size()) {
      const char n = line[++at];
      if (n == 'u' && at + 4 < line.size()) {
        out += static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16));
        at += 4;
      } else {
        out += n;
      }
    } else {
      out += ch;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> FromHex(const std::string& hex) {
  if (hex.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned v = 0;
    for (int k = 0; k < 2; ++k) {
      const char ch = hex[i + k];
      v <<= 4;
      if (ch >= '0' && ch <= '9') v |= static_cast<unsigned>(ch - '0');
      else if (ch >= 'a' && ch <= 'f') v |= static_cast<unsigned>(ch - 'a' + 10);
      else if (ch >= 'A' && ch <= 'F') v |= static_cast<unsigned>(ch - 'A' + 10);
      else return std::nullopt;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

std::string Printable(const std::vector<std::uint8_t>& data) {
  std::string out;
  for (const std::uint8_t b : data) {
    if (b == 0) break;  // the payload is padded with zeros
    if (b == '\r') out += "\\r";
    else if (b == '\n') out += "\\n";
    else if (b == '\\') out += "\\\\";
    else if (b < 0x20 || b >= 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    } else out += static_cast<char>(b);
  }
  return out;
}

std::optional<std::string> DecodeTraceLine(const std::string& line) {
  const auto op = JsonField(line, "op");
  const auto service = JsonField(line, "service");
  const auto hex = JsonField(line, "data");
  if (!op || !service || !hex) return std::nullopt;
  const auto kind = sim::ServiceKindFromId(plat::Utf8ToUtf16(*service));
  const auto data = FromHex(*hex);
  if (!kind || !data) return std::nullopt;
  const std::string cid = JsonField(line, "cid").value_or("?");
  std::string out = *op + " ";
  switch (*kind) {
    case ServiceKind::kMsSar:
      out += "MS SAR";
      break;
    case ServiceKind::kNvm:
      out += "NVM";
      break;
    case ServiceKind::kAtTunnel:
      out += "AT tunnel";
      break;
    case ServiceKind::kAtCommand:
      out += "AT command " + cid;
      break;
  }
  if (*op != "query" && *op != "set") return out;
  const auto& d = *data;
  char buf[160];
  if (*kind == ServiceKind::kNvm) {
    if (d.size() < 12) return out + " (" + std::to_string(d.size()) + " bytes, too short)";
    if (*op == "query") {
      std::snprintf(buf, sizeof buf, " read item 0x%08x offset %u length %u", U32(d, 0), U32(d, 4), U32(d, 8));
    } else {
      std::snprintf(buf, sizeof buf, " item 0x%08x offset %u length %u: write %u bytes", U32(d, 0), U32(d, 4),
                    U32(d, 8), U32(d, 8));
    }
    return out + buf;
  }
  if (*kind == ServiceKind::kMsSar) {
    if (*op == "query") return out;
    if (d.size() != 28) return out + " (" + std::to_string(d.size()) + " bytes, not a configuration)";
    std::snprintf(buf, sizeof buf,
                  " SAR_Mode %u, backoff_status %u, ElementCount %u, Offset %u, Size %u, SAR_AntennaIndex %u, "
                  "SAR_BackOffIndex %u",
                  U32(d, 0), U32(d, 4), U32(d, 8), U32(d, 12), U32(d, 16), U32(d, 20), U32(d, 24));
    return out + buf;
  }
  return out + " \"" + Printable(d) + "\"";
}

int Trace() {
  const fs::path file = plat::MachineDir() / "modem" / "trace.jsonl";
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::printf("no trace at %s (requests are traced when TXL_SIM_TRACE=1)\n", PathText(file).c_str());
    return 0;
  }
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const auto decoded = DecodeTraceLine(line);
    std::printf("%s\n", decoded ? decoded->c_str() : ("raw " + line).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The notebook this tool inspects is the one its platform reaches.
  sim::RegisterWithPlatform();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::FILE* out = args.empty() ? stderr : stdout;
    std::fputs(kHelp, out);
    std::fputs("\nThe notebook's service control manager (install with TXLGuard -install):\n", out);
    std::fputs(kServiceHelp, out);
    return args.empty() ? kUsageExit : 0;
  }
  const std::string& cmd = args[0];
  if (cmd == "set" && args.size() == 2) return Set(args[1]);
  if (cmd == "service") return ServiceCommand(std::vector<std::string>(args.begin() + 1, args.end()));
  if (cmd == "set") {
    std::fprintf(stderr, "txlsim: set takes one SECTION.KEY=VALUE (txlsim --help)\n");
    return kUsageExit;
  }
  if (args.size() == 1) {
    if (cmd == "show") return Show();
    if (cmd == "reset") return Reset();
    if (cmd == "trace") return Trace();
  }
  std::fprintf(stderr, "txlsim: unknown command line '%s' (txlsim --help)\n", cmd.c_str());
  return kUsageExit;
}
