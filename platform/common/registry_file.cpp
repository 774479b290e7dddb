#include "platform/common/registry_file.h"

#include <cstdio>

#include "platform/bytes.h"
#include "platform/text.h"

namespace plat::regfile {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;  // Windows' limit for one level
// Where the editor breaks a line of hex bytes.
constexpr std::size_t kHexWrapColumn = 76;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// No unpaired surrogate: such text would not survive the trip through UTF-8.
bool IsWellFormedUtf16(std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (IsHighSurrogate(s[i])) {
      if (i + 1 >= s.size() || !IsLowSurrogate(s[i + 1])) return false;
      ++i;
    } else if (IsLowSurrogate(s[i])) {
      return false;
    }
  }
  return true;
}

// UTF-8 to UTF-16 that refuses, rather than repairs, malformed input.
bool DecodeUtf8(std::string_view s, std::u16string* out) {
  *out = Utf8ToUtf16(s);
  return Utf16ToUtf8(*out) == s;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

char16_t PathUnitKey(char16_t c) {
  // The separator sorts before every name character, so children follow their parent at once.
  return c == u'\\' ? char16_t{0} : Upcase(c);
}

std::vector<std::u16string_view> SplitPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t sep = path.find(u'\\', start);
    parts.push_back(path.substr(start, sep == std::u16string_view::npos ? std::u16string_view::npos : sep - start));
    if (sep == std::u16string_view::npos) return parts;
    start = sep + 1;
  }
}

std::u16string CanonicalHive(std::u16string_view hive) {
  std::u16string out(hive);
  for (auto& c : out) c = AsciiUpper(c);
  return out;
}

std::u16string_view ParentOf(std::u16string_view path) {
  const std::size_t sep = path.rfind(u'\\');
  return sep == std::u16string_view::npos ? std::u16string_view() : path.substr(0, sep);
}

// 1 to max_digits hex digits and nothing else.
bool ParseHex(std::string_view s, std::size_t max_digits, DWORD* out) {
  if (s.empty() || s.size() > max_digits) return false;
  DWORD v = 0;
  for (char c : s) {
    const int d = HexDigitValue(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<DWORD>(d);
  }
  *out = v;
  return true;
}

std::vector<BYTE> Utf16Bytes(std::u16string_view text) {
  std::vector<BYTE> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) AppendU16(bytes, c);
  return bytes;
}

// Reads a quoted text with the export's two escapes from the front of s; the rest is left in s.
bool TakeQuoted(std::string_view* s, std::string* out) {
  if (s->empty() || s->front() != '"') return false;
  out->clear();
  for (std::size_t i = 1; i < s->size(); ++i) {
    const char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s->size()) return false;
      const char next = (*s)[++i];
      if (next != '\\' && next != '"') return false;
      out->push_back(next);
    } else {
      out->push_back(c);
    }
  }
  return false;  // no closing quote
}

void AppendQuoted(std::string* out, std::u16string_view text) {
  out->push_back('"');
  for (char c : Utf16ToUtf8(text)) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// The data of a value line (after "name="): false when it is none of the forms the export uses.
bool ParseData(std::string_view data, DWORD* type, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (!data.empty() && data.front() == '"') {
    std::string text;
    std::u16string wide;
    if (!TakeQuoted(&data, &text) || !TrimBlanks(data).empty() || !DecodeUtf8(text, &wide)) return false;
    wide.push_back(u'\0');
    *type = REG_SZ;
    *bytes = Utf16Bytes(wide);
    return true;
  }
  if (data.starts_with("dword:")) {
    DWORD v = 0;
    if (!ParseHex(TrimBlanks(data.substr(6)), 8, &v)) return false;
    *type = REG_DWORD;
    AppendU32(*bytes, v);
    return true;
  }
  if (data.starts_with("hex:")) {
    *type = REG_BINARY;
    data.remove_prefix(4);
  } else if (data.starts_with("hex(")) {
    const std::size_t close = data.find("):");
    if (close == std::string_view::npos || !ParseHex(data.substr(4, close - 4), 8, type)) return false;
    data.remove_prefix(close + 2);
  } else {
    return false;
  }
  data = TrimBlanks(data);
  if (data.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = data.find(',', start);
    DWORD b = 0;
    const auto item = TrimBlanks(data.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (!ParseHex(item, 2, &b)) return false;
    bytes->push_back(static_cast<BYTE>(b));
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

// The text a REG_SZ holds when it can be written between quotes.
bool QuotableText(const Value& v, std::u16string* text) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  text->clear();
  for (std::size_t i = 0; i + 1 < v.data.size(); i += 2) text->push_back(static_cast<char16_t>(*ReadU16(v.data, i)));
  if (text->back() != u'\0') return false;
  text->pop_back();
  for (char16_t c : *text)
    if (c == u'\0' || c == u'\r' || c == u'\n') return false;
  return IsWellFormedUtf16(*text);
}

void AppendValueLine(std::string* out, const Value& v) {
  const std::size_t line_start = out->size();
  if (v.name.empty()) out->push_back('@');
  else AppendQuoted(out, v.name);
  out->push_back('=');
  std::u16string text;
  char buf[32];
  if (v.type == REG_DWORD && v.data.size() == 4) {
    const DWORD d = *ReadU32(v.data, 0);
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
    out->append(buf);
  } else if (QuotableText(v, &text)) {
    AppendQuoted(out, text);
  } else {
    if (v.type == REG_BINARY) {
      out->append("hex:");
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
      out->append(buf);
    }
    std::size_t column = out->size() - line_start;
    for (std::size_t i = 0; i < v.data.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(v.data[i]));
      out->append(buf);
      if (i + 1 == v.data.size()) break;
      out->push_back(',');
      column += 3;
      if (column >= kHexWrapColumn) {
        out->append("\\\r\n  ");
        column = 2;
      }
    }
  }
  out->append("\r\n");
}

}  // namespace

char16_t Upcase(char16_t c) {
  if (c < 0x80) return AsciiUpper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3B1 && c <= 0x3C9) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upcase(a[i]) != Upcase(b[i])) return false;
  return true;
}

Value* Key::FindValue(std::u16string_view name) {
  for (auto& v : values)
    if (NamesEqual(v.name, name)) return &v;
  return nullptr;
}

const Value* Key::FindValue(std::u16string_view name) const {
  return const_cast<Key*>(this)->FindValue(name);
}

void Key::SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data) {
  if (Value* v = FindValue(name)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  values.push_back(Value{std::u16string(name), type, std::move(data)});
}

bool Key::DeleteValue(std::u16string_view name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (NamesEqual(it->name, name)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

bool PathLess::operator()(const std::u16string& a, const std::u16string& b) const {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = PathUnitKey(a[i]);
    const char16_t y = PathUnitKey(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Key* Document::Find(std::u16string_view path) {
  const auto it = keys_.find(std::u16string(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const Key* Document::Find(std::u16string_view path) const { return const_cast<Document*>(this)->Find(path); }

Key& Document::Ensure(std::u16string_view path, bool* created) {
  if (created) *created = false;
  const auto parts = SplitPath(path);
  std::u16string spelled = CanonicalHive(parts[0]);
  Key* key = nullptr;
  // The hive gets a line only when it is the key asked for; the levels below it always do.
  for (std::size_t i = parts.size() == 1 ? 0 : 1; i < parts.size(); ++i) {
    if (i > 0) spelled.append(u"\\").append(parts[i]);
    auto it = keys_.find(spelled);
    if (it == keys_.end()) {
      it = keys_.emplace(spelled, Key{spelled, {}}).first;
      if (created) *created = true;
    }
    key = &it->second;
    spelled = key->path;  // an existing level keeps the spelling it was created with
  }
  return *key;
}

bool Document::Remove(std::u16string_view path) { return keys_.erase(std::u16string(path)) > 0; }

DWORD Document::CountSubkeys(std::u16string_view path) const {
  DWORD n = 0;
  for (const auto& [p, key] : keys_)
    if (NamesEqual(ParentOf(p), path)) ++n;
  return n;
}

bool IsHiveName(std::u16string_view name) {
  for (std::u16string_view hive : {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER", u"HKEY_USERS", u"HKEY_CLASSES_ROOT",
                                   u"HKEY_CURRENT_CONFIG"})
    if (NamesEqual(name, hive)) return true;
  return false;
}

bool IsValidKeyPath(std::u16string_view path) {
  const auto parts = SplitPath(path);
  if (!IsHiveName(parts[0])) return false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty() || parts[i].size() > kMaxKeyNameLength || !IsWellFormedUtf16(parts[i])) return false;
    for (char16_t c : parts[i])
      if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool IsWritableValueName(std::u16string_view name) {
  for (char16_t c : name)
    if (c == u'\0' || c == u'\r' || c == u'\n') return false;
  return IsWellFormedUtf16(name);
}

Document Parse(std::string_view bytes) {
  Document doc;
  std::string converted;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    // The editor's own exports are UTF-16LE.
    if (bytes.size() % 2 != 0) {
      doc.AddProblem("the UTF-16 text has an odd number of bytes");
      return doc;
    }
    const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    LeReader reader(raw);
    std::u16string wide;
    for (std::size_t i = 2; i < bytes.size(); i += 2) wide.push_back(static_cast<char16_t>(reader.U16(i)));
    if (!IsWellFormedUtf16(wide)) {
      doc.AddProblem("the UTF-16 text is malformed");
      return doc;
    }
    converted = Utf16ToUtf8(wide);
    bytes = converted;
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }

  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    const std::size_t nl = bytes.find('\n');
    std::string_view line = bytes.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    bytes = nl == std::string_view::npos ? std::string_view() : bytes.substr(nl + 1);
  }
  if (lines.empty() || TrimBlanks(lines[0]) != kHeader) {
    doc.AddProblem("line 1: not a registry export");
    return doc;
  }

  auto problem = [&doc](std::size_t index, std::string_view text) {
    doc.AddProblem("line " + std::to_string(index + 1) + ": " + std::string(text));
  };
  Key* current = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t first = i;
    std::string_view line = TrimBlanks(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current = nullptr;
      std::u16string path;
      // A key name may hold ']' itself: the line's last one closes it. A leading '-' asks an import
      // to delete the key, which is no state a registry can be in.
      if (line.back() != ']' || line.size() < 3 || line[1] == '-' ||
          !DecodeUtf8(line.substr(1, line.size() - 2), &path) || !IsValidKeyPath(path)) {
        problem(first, line);
        continue;
      }
      current = &doc.Ensure(path);
      continue;
    }
    std::u16string name;
    std::string_view rest = line;
    bool named = false;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
      named = true;
    } else {
      std::string raw;
      named = TakeQuoted(&rest, &raw) && DecodeUtf8(raw, &name) && !name.empty();
    }
    if (!named || rest.empty() || rest.front() != '=') {
      problem(first, line);
      continue;
    }
    rest.remove_prefix(1);
    std::string joined;
    if (rest.starts_with("hex")) {
      // Long byte lists go on over lines that end in '\'.
      joined = std::string(rest);
      while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
        joined.pop_back();
        joined.append(TrimBlanks(lines[++i]));
      }
      rest = joined;
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!current || !ParseData(rest, &type, &data)) {
      problem(first, line);
      continue;
    }
    // As an import would, a later line for the same name replaces the earlier one.
    current->SetValue(name, type, std::move(data));
  }
  return doc;
}

std::string Format(const Document& doc) {
  std::string out(kHeader);
  out.append("\r\n");
  for (const auto& [path, key] : doc.keys()) {
    out.append("\r\n[").append(Utf16ToUtf8(key.path)).append("]\r\n");
    for (const auto& v : key.values) AppendValueLine(&out, v);
  }
  out.append("\r\n");
  return out;
}

}  // namespace plat::regfile
