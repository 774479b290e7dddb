// txlsim set: one key of modem/modem.ini changed in place, every other line kept.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/whole_file.h"
#include "platform/machine.h"
#include "tool/txlsim/txlsim.h"

namespace txlsim {

namespace {

namespace fs = std::filesystem;

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

}  // namespace

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
  if (!plat::ReplaceFileContents(ini, std::vector<std::uint8_t>(after.begin(), after.end()))) {
    std::fprintf(stderr, "txlsim: cannot replace %s\n", PathText(ini).c_str());
    return kFailedExit;
  }
  std::printf("%s: [%s] %s=%s\n", PathText(ini).c_str(), section.c_str(), key.c_str(), value.c_str());
  return 0;
}

}  // namespace txlsim
