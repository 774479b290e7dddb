#include "platform/ini.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace plat {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  Section* current = nullptr;
  std::size_t line_no = 0;
  // A UTF-8 byte-order mark is not part of the first line.
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++line_no;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      if (close == std::string_view::npos) {
        ini.problems_.push_back(std::to_string(line_no) + ": " + std::string(line));
        current = nullptr;
        continue;
      }
      const std::string name(Trim(line.substr(1, close - 1)));
      current = nullptr;
      for (auto& s : ini.sections_)
        if (EqualsIgnoreCaseAscii(s.name, name)) current = &s;
      if (!current) {
        ini.sections_.push_back(Section{name, {}});
        current = &ini.sections_.back();
      }
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || !current) {
      ini.problems_.push_back(std::to_string(line_no) + ": " + std::string(line));
      continue;
    }
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                              (value.front() == '\'' && value.back() == '\'')))
      value = value.substr(1, value.size() - 2);
    current->entries.emplace_back(std::string(Trim(line.substr(0, eq))), std::string(value));
  }
  return ini;
}

std::optional<IniFile> IniFile::Load(const std::string& utf8_path) {
  std::ifstream in(utf8_path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return Parse(ss.str());
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  for (const auto& s : sections_)
    if (EqualsIgnoreCaseAscii(s.name, section)) return &s;
  return nullptr;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = Find(section);
  if (!s) return std::nullopt;
  for (const auto& [k, v] : s->entries)
    if (EqualsIgnoreCaseAscii(k, key)) return v;
  return std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view fallback) const {
  auto v = Get(section, key);
  return v ? *v : std::string(fallback);
}

long ParseProfileInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned long long v = 0;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
    while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) {
      const char c = text[i++];
      const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
      v = (v << 4) | static_cast<unsigned>(d);
      v &= 0xFFFFFFFFull;
    }
  } else {
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + static_cast<unsigned>(text[i++] - '0');
      v &= 0xFFFFFFFFull;  // the profile API works in 32 bits and wraps
    }
  }
  const auto u32 = static_cast<std::uint32_t>(v);
  const auto s32 = static_cast<std::int32_t>(negative ? (0u - u32) : u32);
  return static_cast<long>(s32);
}

long IniFile::GetInt(std::string_view section, std::string_view key, long fallback) const {
  auto v = Get(section, key);
  return v ? ParseProfileInt(*v) : fallback;
}

bool IniFile::HasSection(std::string_view section) const { return Find(section) != nullptr; }

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section))
    for (const auto& [k, v] : s->entries) keys.push_back(k);
  return keys;
}

}  // namespace plat
