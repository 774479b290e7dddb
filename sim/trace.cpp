#include "sim/trace.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "platform/bytes.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "sim/modem_config.h"

namespace sim::trace {

namespace {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> FromHex(const std::string& hex) {
  if (hex.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = plat::HexDigitValue(hex[i]);
    const int lo = plat::HexDigitValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

// The value of "name" in a line as Encode writes it: a string (only '"', '\\' and controls escaped)
// or a bare number.
std::optional<std::string> Field(const std::string& line, const std::string& name) {
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
    if (ch != '\\') {
      out += ch;
      continue;
    }
    if (++at >= line.size()) return std::nullopt;
    if (line[at] != 'u') {
      out += line[at];
      continue;
    }
    int code = 0;
    for (int k = 1; k <= 4; ++k) {
      const int d = at + k < line.size() ? plat::HexDigitValue(line[at + k]) : -1;
      if (d < 0) return std::nullopt;
      code = code << 4 | d;
    }
    out += static_cast<char>(code);
    at += 4;
  }
  return std::nullopt;
}

// Text of a payload with its line ends and other controls visible; the zero padding is left out.
std::string Printable(const std::vector<std::uint8_t>& data) {
  std::string out;
  for (const std::uint8_t b : data) {
    if (b == 0) break;
    if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\\') {
      out += "\\\\";
    } else if (b < 0x20 || b >= 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace

std::filesystem::path TraceFile(const std::filesystem::path& machine_dir) {
  return machine_dir / "modem" / "trace.jsonl";
}

std::string Encode(const Line& line) {
  return "{\"op\":" + JsonString(line.op) + ",\"iface\":" + JsonString(line.iface) +
         ",\"service\":" + JsonString(line.service) + ",\"cid\":" + std::to_string(line.cid) + ",\"data\":\"" +
         Hex(line.data) + "\"}\n";
}

std::optional<Line> Parse(const std::string& text) {
  const auto op = Field(text, "op");
  const auto iface = Field(text, "iface");
  const auto service = Field(text, "service");
  const auto cid = Field(text, "cid");
  const auto hex = Field(text, "data");
  if (!op || !iface || !service || !cid || !hex) return std::nullopt;
  const auto data = FromHex(*hex);
  if (!data || cid->empty() || cid->size() > 10 || cid->find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned long long number = std::stoull(*cid);
  if (number > 0xFFFFFFFFull) return std::nullopt;
  return Line{*op, *iface, *service, static_cast<std::uint32_t>(number), *data};
}

namespace {

// A configuration of other than one state: mode, status and each state its pair points at.
std::string DescribeSarStates(plat::LeReader d) {
  const std::string refused = " (" + std::to_string(d.size()) + " bytes, not a configuration)";
  if (d.size() < 12) return refused;
  const std::uint64_t count = d.U32(8);
  if (d.size() != 12 + 16 * count) return refused;
  std::string out = " SAR_Mode " + std::to_string(d.U32(0)) + ", backoff_status " + std::to_string(d.U32(4)) +
                    ", ElementCount " + std::to_string(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t offset = d.U32(12 + 8 * i);
    if (offset % 4 != 0 || offset < 12 + 8 * count || offset > d.size() - 8) return refused;
    out += ", antenna " + std::to_string(d.U32(offset)) + " at back-off index " + std::to_string(d.U32(offset + 4));
  }
  return out;
}

}  // namespace

std::optional<std::string> Describe(const Line& line) {
  const auto kind = ServiceKindFromId(plat::Utf8ToUtf16(line.service));
  if (!kind) return std::nullopt;
  std::string out = line.op + " ";
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
      out += "AT command " + std::to_string(line.cid);
      break;
  }
  if (line.op != "query" && line.op != "set") return out;
  plat::LeReader d(line.data);
  char buf[160];
  if (*kind == ServiceKind::kNvm) {
    if (d.size() < 12) return out + " (" + std::to_string(d.size()) + " bytes, too short)";
    if (line.op == "query") {
      std::snprintf(buf, sizeof buf, " read item 0x%08x offset %u length %u", d.U32(0), d.U32(4), d.U32(8));
    } else {
      std::snprintf(buf, sizeof buf, " item 0x%08x offset %u length %u: write %u bytes", d.U32(0), d.U32(4),
                    d.U32(8), d.U32(8));
    }
    return out + buf;
  }
  if (*kind == ServiceKind::kMsSar && line.cid == 2) {
    out += " transmission status";
    if (line.op == "query") return out;
    if (d.size() != 8) return out + " (" + std::to_string(d.size()) + " bytes, not a setting)";
    std::snprintf(buf, sizeof buf, ": notification %u, hysteresis %u s", d.U32(0), d.U32(4));
    return out + buf;
  }
  if (*kind == ServiceKind::kMsSar) {
    if (line.op == "query") return out;
    if (d.size() != 28) return out + DescribeSarStates(d);
    std::snprintf(buf, sizeof buf,
                  " SAR_Mode %u, backoff_status %u, ElementCount %u, Offset %u, Size %u, SAR_AntennaIndex %u, "
                  "SAR_BackOffIndex %u",
                  d.U32(0), d.U32(4), d.U32(8), d.U32(12), d.U32(16), d.U32(20), d.U32(24));
    return out + buf;
  }
  return out + " \"" + Printable(line.data) + "\"";
}

bool Append(const std::filesystem::path& machine_dir, const Line& line) {
  const std::string text = Encode(line);
  const std::filesystem::path file = TraceFile(machine_dir);
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  // Other processes append too: the lock keeps every line whole.
  const auto lock = plat::LockFile((file.parent_path() / "trace.lock").u16string());
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  if (lock && out) return true;
  std::fprintf(stderr, "txl-sim: cannot append to the request trace in %s\n",
               plat::Utf16ToUtf8(file.parent_path().u16string()).c_str());
  return false;
}

}  // namespace sim::trace
