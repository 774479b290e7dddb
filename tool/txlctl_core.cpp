#include "tool/txlctl_core.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>
#include <set>

#include "api/values/value_text.h"
#include "platform/text.h"

namespace txlctl {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A whole decimal integer, sign allowed, within int range.
std::optional<int> ParseInt(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return std::nullopt;
  return static_cast<int>(v);
}

// A whole decimal number from 0 to 4294967295, digits only.
std::optional<std::uint32_t> ParseU32(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

// One of two words, as a flag: `yes` gives true, `no` false.
std::optional<bool> ParseChoice(std::string_view text, std::string_view yes, std::string_view no) {
  if (text == yes) return true;
  if (text == no) return false;
  return std::nullopt;
}

std::optional<Command> ValueCommand(std::string_view word) {
  if (word == "enable") return Command::kEnable;
  if (word == "on") return Command::kOn;
  if (word == "mode") return Command::kMode;
  if (word == "profile") return Command::kProfile;
  return std::nullopt;
}

Parsed Refuse(std::string error) {
  Parsed p;
  p.error = std::move(error);
  return p;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::vector<std::string> SplitBlanks(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > at) words.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

}  // namespace

Parsed ParseArguments(const std::vector<std::string>& args) {
  Options o;
  bool help = false;
  std::vector<std::string> words;
  std::string antenna_open;  // an --antenna still waiting for its --index
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--profile") {
      if (i + 1 == args.size()) return Refuse("--profile needs a profile number");
      o.profile = ParseInt(args[++i]);
      if (!o.profile || *o.profile < 0) return Refuse("--profile: not a profile number: " + args[i]);
    } else if (a == "--mode" || a == "--backoff" || a == "--antenna" || a == "--index" || a == "--notify" ||
               a == "--hysteresis") {
      if (i + 1 == args.size()) return Refuse(a + " needs a value");
      const std::string& v = args[++i];
      if (a == "--mode") {
        o.sar_host = ParseChoice(v, "host", "device");
        if (!o.sar_host) return Refuse("--mode: host or device, not " + v);
      } else if (a == "--backoff" || a == "--notify") {
        auto& flag = a == "--backoff" ? o.sar_backoff : o.notify;
        flag = ParseChoice(v, "on", "off");
        if (!flag) return Refuse(a + ": on or off, not " + v);
      } else if (a == "--hysteresis") {
        o.hysteresis_s = ParseU32(v);
        if (!o.hysteresis_s || *o.hysteresis_s < 1 || *o.hysteresis_s > kMaxHysteresisS)
          return Refuse("--hysteresis: whole seconds from 1 to 5, not " + v);
      } else {
        const auto n = ParseU32(v);
        if (!n) return Refuse(a + ": not a whole number from 0 to 4294967295: " + v);
        if (a == "--antenna") {
          if (!antenna_open.empty()) return Refuse("--antenna " + antenna_open + " has no --index");
          const bool named = std::any_of(o.sar_states.begin(), o.sar_states.end(),
                                         [&](const SarState& s) { return s.antenna == *n; });
          if (named) return Refuse("antenna " + v + " is named twice");
          if (o.sar_states.size() == kMaxSarStates)
            return Refuse("at most " + std::to_string(kMaxSarStates) + " antennas in one set");
          o.sar_states.push_back({*n, 0});
          antenna_open = v;
        } else {
          if (antenna_open.empty()) return Refuse("--index " + v + " without an --antenna before it");
          o.sar_states.back().backoff_index = *n;
          antenna_open.clear();
        }
      }
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--raw") {
      o.raw = true;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "-v" || a == "--verbose") {
      o.verbose = true;
    } else if (a == "--help" || a == "-h") {
      help = true;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return Refuse("unknown option " + a);
    } else {
      words.push_back(a);
    }
  }
  if (help || words.empty() || words[0] == "help") {
    o.command = Command::kHelp;
    return {true, o, {}};
  }
  const std::string& verb = words[0];
  if (verb == "status" || verb == "clear" || verb == "imei") {
    if (words.size() != 1) return Refuse(verb + " takes no value");
    o.command = verb == "status" ? Command::kStatus : verb == "clear" ? Command::kClear : Command::kImei;
  } else if (auto c = ValueCommand(verb)) {
    o.command = *c;
    if (words.size() > 2) return Refuse(verb + " takes at most one value");
    if (words.size() == 2) {
      o.value = ParseInt(words[1]);
      if (!o.value) return Refuse(verb + ": not a whole number: " + words[1]);
    }
  } else if (verb == "table") {
    if (words.size() < 2) return Refuse("table needs get or set");
    if (words[1] == "get") {
      if (words.size() != 2) return Refuse("table get takes no value");
      o.command = Command::kTableGet;
    } else if (words[1] == "set") {
      o.command = Command::kTableSet;
      if (words.size() < 3) return Refuse("table set needs a table text or 3g|4g bN=DBM ...");
      // The friendly form may come as one quoted argument, as people type it.
      std::vector<std::string> form(words.begin() + 2, words.end());
      if (form.size() == 1) form = SplitBlanks(form[0]);
      const std::string tech = form.empty() ? std::string() : Lower(form[0]);
      if (tech == "3g" || tech == "4g") {
        BuiltTable t = BuildTableText(tech, std::vector<std::string>(form.begin() + 1, form.end()));
        if (!t.ok) return Refuse(t.error);
        o.table_text = t.text;
      } else {
        if (words.size() != 3) return Refuse("table set: give the table text as one argument (quote it)");
        if (!o.force) {
          const CheckedText checked = CheckTableText(words[2]);
          if (!checked.ok) return Refuse("table set: " + checked.error + " (--force sends a raw text unchecked)");
        }
        o.table_text = words[2];
      }
    } else if (words[1] == "export") {
      if (words.size() > 3) return Refuse("table export takes at most one file");
      o.command = Command::kTableExport;
      if (words.size() == 3) o.file = words[2];
    } else if (words[1] == "import" || words[1] == "diff") {
      if (words.size() != 3) return Refuse("table " + words[1] + " needs one file");
      o.command = words[1] == "import" ? Command::kTableImport : Command::kTableDiff;
      o.file = words[2];
    } else {
      return Refuse("table: unknown action " + words[1] + " (get, set, export, import or diff)");
    }
  } else if (verb == "sar") {
    const bool tx = words.size() >= 2 && words[1] == "tx";
    const std::size_t action = tx ? 2 : 1;
    const bool set = words.size() > action && words[action] == "set";
    const std::size_t used = action + (set ? 1 : 0);
    if (words.size() > used) return Refuse("sar: unexpected " + words[used] + " (sar, sar set, sar tx or sar tx set)");
    o.command = tx ? (set ? Command::kSarTxSet : Command::kSarTx) : (set ? Command::kSarSet : Command::kSar);
    if (!antenna_open.empty()) return Refuse("--antenna " + antenna_open + " has no --index");
    if (o.command == Command::kSarSet && (!o.sar_host || !o.sar_backoff))
      return Refuse("sar set needs --mode host|device and --backoff on|off");
    if (o.command == Command::kSarTxSet && (!o.notify || !o.hysteresis_s))
      return Refuse("sar tx set needs --notify on|off and --hysteresis S");
  } else {
    return Refuse("unknown command " + verb);
  }
  if (o.raw && o.command != Command::kTableGet) return Refuse("--raw applies to table get only");
  if (o.force && o.command != Command::kTableSet) return Refuse("--force applies to table set only");
  if (o.profile && o.command != Command::kTableExport) return Refuse("--profile applies to table export only");
  if ((o.sar_host || o.sar_backoff || !o.sar_states.empty() || !antenna_open.empty()) && o.command != Command::kSarSet)
    return Refuse("--mode, --backoff, --antenna and --index apply to sar set only");
  if ((o.notify || o.hysteresis_s) && o.command != Command::kSarTxSet)
    return Refuse("--notify and --hysteresis apply to sar tx set only");
  return {true, o, {}};
}

std::string BandMask(int band) {
  if (band < 1) return {};
  const int bit = band - 1;
  std::string mask(1, "1248"[bit % 4]);
  mask.append(static_cast<std::size_t>(bit / 4), '0');
  return mask;
}

bool BandAccepted(int technology, int band) {
  if (band < 1 || band > 128) return false;
  const std::string mask = BandMask(band);
  const auto& kestrel = technology == 1 ? krill::Kestrel3GBandTable() : krill::Kestrel4GBandTable();
  if (technology != 1 && technology != 2) return false;
  // Kestrel rows carry the band index (band - 1); Osprey rows the band number itself.
  const auto k = krill::FindBand(kestrel, mask, true);
  if (k && *k == band - 1) return true;
  const auto o = krill::FindBand(krill::OspreyBandTable(), mask, false);
  return o && *o == band;
}

std::optional<int> ParseTenths(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  std::string_view fraction;
  if (dot != std::string_view::npos) {
    fraction = text.substr(dot + 1);
    if (fraction.size() != 1) return std::nullopt;
  }
  if (whole.empty() || whole.size() > 6) return std::nullopt;
  int v = 0;
  for (char c : whole) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  v *= 10;
  if (!fraction.empty()) {
    if (!std::isdigit(static_cast<unsigned char>(fraction[0]))) return std::nullopt;
    v += fraction[0] - '0';
  }
  return v;
}

std::string FormatTenths(int tenths) {
  const long long v = tenths;
  const long long a = v < 0 ? -v : v;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%lld.%lld", v < 0 ? "-" : "", a / 10, a % 10);
  return buf;
}

BuiltTable BuildTableText(std::string_view technology, const std::vector<std::string>& items) {
  BuiltTable out;
  const std::string tech = Lower(technology);
  int selector = 0;
  if (tech == "3g") selector = 1;
  if (tech == "4g") selector = 2;
  if (selector == 0) {
    out.error = "technology must be 3g or 4g, not " + std::string(technology);
    return out;
  }
  const int limit = selector == 1 ? kLimit3GTenths : kLimit4GTenths;
  const std::string name = TechnologyName(selector);
  if (items.empty()) {
    out.error = "table set " + tech + ": give at least one bN=DBM";
    return out;
  }
  std::set<int> seen;
  std::string text = std::to_string(selector);
  for (const std::string& item : items) {
    const std::size_t eq = item.find('=');
    if (item.size() < 3 || (item[0] != 'b' && item[0] != 'B') || eq == std::string::npos) {
      out.error = "expected bN=DBM, got " + item;
      return out;
    }
    const auto band = ParseInt(std::string_view(item).substr(1, eq - 1));
    if (!band || item[1] == '-' || item[1] == '+') {
      out.error = "not a band number in " + item;
      return out;
    }
    if (!BandAccepted(selector, *band)) {
      out.error = "band " + std::to_string(*band) + " is not served for " + name;
      return out;
    }
    if (!seen.insert(*band).second) {
      out.error = "band " + std::to_string(*band) + " given twice";
      return out;
    }
    const auto tenths = ParseTenths(std::string_view(item).substr(eq + 1));
    if (!tenths) {
      out.error = "not a power in dBm with at most one decimal: " + item.substr(eq + 1);
      return out;
    }
    if (*tenths > limit) {
      out.error = "band " + std::to_string(*band) + ": " + FormatTenths(*tenths) + " dBm is above the " + name +
                  " limit of " + FormatTenths(limit) + " dBm";
      return out;
    }
    text += "," + std::to_string(*tenths) + ",\"0x" + BandMask(*band) + "\"";
  }
  out.ok = true;
  out.text = std::move(text);
  return out;
}

CheckedText CheckTableText(std::string_view text) {
  CheckedText out;
  auto refuse = [&out](std::string why) {
    out.error = std::move(why);
    out.rows.clear();
    return out;
  };
  std::vector<std::string_view> fields;
  for (std::size_t at = 0;;) {
    const std::size_t comma = text.find(',', at);
    fields.push_back(text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
    if (comma == std::string_view::npos) break;
    at = comma + 1;
  }
  if (fields[0] != "1" && fields[0] != "2") return refuse("a table text starts with 1 (3G) or 2 (4G)");
  const int technology = fields[0][0] - '0';
  if (fields.size() < 3 || fields.size() % 2 != 1) return refuse("a table text is 1|2 then value,\"0xMASK\" pairs");
  const int limit = technology == 1 ? kLimit3GTenths : kLimit4GTenths;
  const std::string name = TechnologyName(technology);
  std::set<int> seen;
  for (std::size_t i = 1; i < fields.size(); i += 2) {
    const std::string_view value = fields[i];
    const std::string_view mask = fields[i + 1];
    const bool digits = !value.empty() && value.size() <= 4 &&
                        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) return refuse("not a whole number of tenths of a dBm: " + std::string(value));
    const int tenths = *ParseInt(value);
    if (tenths > limit)
      return refuse(FormatTenths(tenths) + " dBm is above the " + name + " limit of " + FormatTenths(limit) + " dBm");
    // The library finds a band by its mask text: "0x" and one bit, 1, 2, 4 or 8 followed by zeros.
    const bool quoted = mask.size() >= 5 && mask.front() == '"' && mask.back() == '"' && mask.substr(1, 2) == "0x";
    const std::string_view hex = quoted ? mask.substr(3, mask.size() - 4) : std::string_view();
    const bool one_bit = !hex.empty() && hex.size() <= 32 && std::string_view("1248").find(hex[0]) != std::string_view::npos &&
                         hex.find_first_not_of('0', 1) == std::string_view::npos;
    if (!one_bit) return refuse("not a band mask \"0x...\" of one band: " + std::string(mask));
    const int band = static_cast<int>(hex.size() - 1) * 4 + (hex[0] == '1' ? 1 : hex[0] == '2' ? 2 : hex[0] == '4' ? 3 : 4);
    if (!BandAccepted(technology, band)) return refuse("band " + std::to_string(band) + " is not served for " + name);
    if (!seen.insert(band).second) return refuse("band " + std::to_string(band) + " given twice");
    out.rows.push_back(Row{technology, band, tenths});
  }
  out.ok = true;
  return out;
}

std::vector<Row> ParseReadBack(std::string_view text) {
  std::vector<Row> rows;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    const std::size_t c1 = line.find(',');
    if (c1 == std::string_view::npos) continue;
    const std::size_t c2 = line.find(',', c1 + 1);
    if (c2 == std::string_view::npos) continue;
    const auto tech = ParseInt(Trim(line.substr(0, c1)));
    const auto value = ParseInt(Trim(line.substr(c1 + 1, c2 - c1 - 1)));
    std::string_view mask = Trim(line.substr(c2 + 1));
    if (!tech || !value) continue;
    if (mask.size() >= 2 && mask.front() == '"' && mask.back() == '"') mask = mask.substr(1, mask.size() - 2);
    if (mask.size() < 3 || mask[0] != '0' || (mask[1] != 'x' && mask[1] != 'X')) continue;
    mask.remove_prefix(2);
    bool hex = true;
    for (char c : mask) hex = hex && plat::HexDigitValue(c) >= 0;
    if (!hex) continue;
    std::vector<Row> line_rows;
    for (std::size_t i = 0; i < mask.size(); ++i) {
      const int digit = plat::HexDigitValue(mask[mask.size() - 1 - i]);
      for (int b = 0; b < 4; ++b)
        if (digit & (1 << b)) line_rows.push_back({*tech, static_cast<int>(i) * 4 + b + 1, *value});
    }
    rows.insert(rows.end(), line_rows.begin(), line_rows.end());
  }
  return rows;
}

std::string TechnologyName(int technology) {
  if (technology == 1) return "3G";
  if (technology == 2) return "4G";
  return "technology " + std::to_string(technology);
}

std::string FormatRows(const std::vector<Row>& rows) {
  if (rows.empty()) return "(no power table rows)\n";
  std::string out = "technology  band  dBm\n";
  for (const Row& r : rows) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%-10s  %4d  %s\n", TechnologyName(r.technology).c_str(), r.band,
                  FormatTenths(r.tenths).c_str());
    out += buf;
  }
  return out;
}

namespace {

// A JSON value, as much of it as a table file needs; numbers keep their text.
struct JsonMember;

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  std::string text;  // a string's characters, a number's literal
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // a vector may name a type completed later; a pair may not
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // The whole text as one value; false with `error_` set otherwise.
  bool Document(JsonValue* out) {
    if (!Value(out, 0)) return false;
    Blanks();
    return at_ == text_.size() || Fail("text after the JSON value");
  }
  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why + " (at byte " + std::to_string(at_) + ")";
    return false;
  }
  void Blanks() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) && text_[at_] != '\0') ++at_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Fail("not JSON");
    at_ += word.size();
    return true;
  }
  bool Value(JsonValue* out, int depth) {
    if (depth > 16) return Fail("nested too deep");
    Blanks();
    if (at_ == text_.size()) return Fail("the JSON ends early");
    const char c = text_[at_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out->kind = JsonValue::Kind::kString;
      return String(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->kind = JsonValue::Kind::kBool;
      out->text = c == 't' ? "true" : "false";
      return Literal(out->text);
    }
    if (c == 'n') return Literal("null");
    return Number(out);
  }
  bool Number(JsonValue* out) {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.' ||
                                  text_[at_] == 'e' || text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-'))
      ++at_;
    if (at_ == start) return Fail("not JSON");
    out->kind = JsonValue::Kind::kNumber;
    out->text = std::string(text_.substr(start, at_ - start));
    return true;
  }
  bool String(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
      if (c == '\\') {
        if (at_ == text_.size()) break;
        c = text_[at_++];
        const char* escaped = std::strchr("\"\\/bfnrt", c);
        if (!escaped || c == '\0') return Fail("an escape a table file has no use for");
        c = "\"\\/\b\f\n\r\t"[escaped - "\"\\/bfnrt"];
      }
      out->push_back(c);
    }
    if (at_ == text_.size()) return Fail("a string without its closing quote");
    ++at_;
    return true;
  }
  // The items of an array or the members of an object, from its opening character to `close`.
  template <class Item>
  bool Sequence(char close, const char* what, Item item) {
    ++at_;
    Blanks();
    if (at_ < text_.size() && text_[at_] == close) return ++at_, true;
    for (;;) {
      if (!item()) return false;
      Blanks();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == close) return ++at_, true;
      return Fail(std::string("expected , or ") + close + " in " + what);
    }
  }
  bool Array(JsonValue* out, int depth) {
    out->kind = JsonValue::Kind::kArray;
    return Sequence(']', "an array", [&] {
      out->items.emplace_back();
      return Value(&out->items.back(), depth + 1);
    });
  }
  bool Object(JsonValue* out, int depth) {
    out->kind = JsonValue::Kind::kObject;
    return Sequence('}', "an object", [&] {
      Blanks();
      if (at_ == text_.size() || text_[at_] != '"') return Fail("expected a member name");
      std::string name;
      if (!String(&name)) return false;
      Blanks();
      if (at_ == text_.size() || text_[at_] != ':') return Fail("expected : after a member name");
      ++at_;
      out->members.push_back(JsonMember{std::move(name), JsonValue{}});
      return Value(&out->members.back().value, depth + 1);
    });
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

const JsonValue* Member(const JsonValue& object, std::string_view name) {
  for (const auto& [key, value] : object.members)
    if (key == name) return &value;
  return nullptr;
}

}  // namespace

FileRows ParseTableFile(std::string_view json) {
  FileRows out;
  JsonValue document;
  JsonReader reader(json);
  if (!reader.Document(&document)) {
    out.error = reader.error();
    return out;
  }
  const JsonValue* table = &document;
  if (document.kind == JsonValue::Kind::kObject) table = Member(document, "table");
  if (!table || table->kind != JsonValue::Kind::kArray) {
    out.error = "expected a \"table\" array of entries";
    return out;
  }
  if (table->items.empty()) {
    out.error = "the table has no entry";
    return out;
  }
  std::set<std::pair<int, int>> seen;
  for (std::size_t i = 0; i < table->items.size(); ++i) {
    const JsonValue& entry = table->items[i];
    const std::string where = "entry " + std::to_string(i + 1) + ": ";
    const JsonValue* tech = entry.kind == JsonValue::Kind::kObject ? Member(entry, "technology") : nullptr;
    const JsonValue* band = entry.kind == JsonValue::Kind::kObject ? Member(entry, "band") : nullptr;
    const JsonValue* dbm = entry.kind == JsonValue::Kind::kObject ? Member(entry, "dbm") : nullptr;
    if (!tech || !band || !dbm || tech->kind != JsonValue::Kind::kString || band->kind != JsonValue::Kind::kNumber ||
        dbm->kind != JsonValue::Kind::kNumber) {
      out.error = where + "expected {\"technology\": \"3G\"|\"4G\", \"band\": N, \"dbm\": D}";
      return out;
    }
    const std::string t = Lower(tech->text);
    const int technology = t == "3g" ? 1 : t == "4g" ? 2 : 0;
    if (technology == 0) {
      out.error = where + "technology must be 3G or 4G, not " + tech->text;
      return out;
    }
    const auto number = ParseInt(band->text);
    if (!number || !BandAccepted(technology, *number)) {
      out.error = where + "band " + band->text + " is not served for " + TechnologyName(technology);
      return out;
    }
    const auto tenths = ParseTenths(dbm->text);
    const int limit = technology == 1 ? kLimit3GTenths : kLimit4GTenths;
    if (!tenths) {
      out.error = where + "not a power in dBm with at most one decimal: " + dbm->text;
      return out;
    }
    if (*tenths > limit) {
      out.error = where + FormatTenths(*tenths) + " dBm is above the " + TechnologyName(technology) + " limit of " +
                  FormatTenths(limit) + " dBm";
      return out;
    }
    if (!seen.insert({technology, *number}).second) {
      out.error = where + TechnologyName(technology) + " band " + band->text + " given twice";
      return out;
    }
    out.rows.push_back(Row{technology, *number, *tenths});
  }
  out.ok = true;
  return out;
}

std::vector<std::string> TableTexts(const std::vector<Row>& rows) {
  std::vector<std::string> texts;
  for (int technology : {1, 2}) {
    std::string text;
    for (const Row& r : rows) {
      if (r.technology != technology) continue;
      if (text.empty()) text = std::to_string(technology);
      text += "," + std::to_string(r.tenths) + ",\"0x" + BandMask(r.band) + "\"";
    }
    if (!text.empty()) texts.push_back(std::move(text));
  }
  return texts;
}

std::string DiffRows(const std::vector<Row>& wanted, const std::vector<Row>& held, int* changes) {
  std::string out;
  *changes = 0;
  for (const Row& w : wanted) {
    const auto h = std::find_if(held.begin(), held.end(),
                                [&](const Row& r) { return r.technology == w.technology && r.band == w.band; });
    if (h != held.end() && h->tenths == w.tenths) continue;
    ++*changes;
    out += TechnologyName(w.technology) + " band " + std::to_string(w.band) + ": " +
           (h == held.end() ? std::string("(not in the table)") : FormatTenths(h->tenths)) + " -> " +
           FormatTenths(w.tenths) + " dBm\n";
  }
  return out;
}

std::string RowsJson(const std::vector<Row>& rows) {
  std::string out = "[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i) out += ",";
    out += "{\"technology\":" + JsonString(TechnologyName(rows[i].technology)) +
           ",\"band\":" + std::to_string(rows[i].band) + ",\"dbm\":" + FormatTenths(rows[i].tenths) + "}";
  }
  return out + "]";
}

std::string CodeMessage(int code) {
  const char* text = nullptr;
  switch (code) {
    case 0: text = "success"; break;
    case 1: text = "channel object missing"; break;
    case 2: text = "entry point or channel not available"; break;
    case 3: text = "command failed"; break;
    case 4: text = "empty or negative reply"; break;
    case 5: text = "module type not served by this operation"; break;
    case kNotAppliedExit: text = "the modem does not hold every value asked for"; break;
    case kUsageExit: text = "the command line was refused"; break;
    default: text = "unknown result"; break;
  }
  return std::string(text) + " (" + std::to_string(code) + ")";
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonError(int code) {
  return "{\"code\":" + std::to_string(code) + ",\"message\":" + JsonString(CodeMessage(code)) + "}";
}

std::string HelpText() {
  return R"(usage: txlctl [--json] COMMAND

Diagnostics of the body-SAR power back-off through the control library.
Every command first asks whether the modem answers (get_IsMBIMReady).

  status                  readiness, IMEI, enable, on, mode, profile and the
                          power tables of the active profile (technology, band, dBm)
  enable [VALUE]          read, or set VALUE and read back
  on [VALUE]              read, or set the back-off index VALUE and read back
  mode [VALUE]            read, or set VALUE and read back
  profile [VALUE]         read, or set VALUE and read back
  clear                   clear the power tables
  imei                    the modem's IMEI
  table get [--raw]       the power tables read back, decoded (raw text with --raw)
  table set TEXT          send a table text, e.g. '1,200,"0x1",190,"0x2"', once it is
                          checked: 1|2, then value,"0xMASK" pairs, each mask one band
                          served for the technology, each value within its limit
                          (--force sends it unchecked)
                          (technology 1 = 3G, 2 = 4G; tenths of a dBm; mask bit k = band k+1)
  table export [--profile N] [FILE]
                          the active (or given) profile's tables as JSON, to FILE or
                          standard output
  table import FILE       check every entry of a table file first (the whole file is
                          refused at the first bad one), set them with one table text
                          per technology, read back per band
  table diff FILE         what an import of FILE would change
  table set 3g|4g bN=DBM ...
                          build the table text from bands and powers in dBm, e.g.
                          table set 3g b1=20.0 b5=22.0
                          Powers have at most one decimal; limits 23.5 dBm (3G) and
                          23.0 dBm (4G); only bands the control library's band tables
                          serve for the technology are accepted. A refused entry sends nothing.
  sar                     the MS SAR configuration the modem holds: mode, back-off,
                          Wi-Fi integration, each antenna's back-off index
  sar set --mode host|device --backoff on|off [--antenna N --index K]...
                          set it (antennas not named keep their index), then read back
  sar tx                  the transmission status: channel notification, whether the
                          modem is transmitting, hysteresis timer
  sar tx set --notify on|off --hysteresis S
                          set notification and hysteresis (1 to 5 s), then read back

Options:
  --json                  machine-readable output (one JSON object)
  --raw                   table get: print the read-back text unchanged
  --force                 table set: send a raw table text unchecked
  -v, --verbose           show the bridge's own console lines, on standard error
  --help                  this text

Exit codes: 0 success; the library's result code on a failure:
  1 channel object missing, 2 entry point or channel not available, 3 command failed,
  4 empty or negative reply, 5 module type not served by this operation;
  64 the command line was refused (nothing sent);
  65 a set whose values the modem does not hold when read back (per band, per antenna).
The sar commands talk to the MS SAR service through the bridge's session API; a failed
request exits 3 and names the HRESULT, an answer that cannot be read exits 4.
)";
}

}  // namespace txlctl
