// INI files read with the semantics of the Windows profile API: section and key names compare
// case-insensitively, the first occurrence wins, values are trimmed of surrounding blanks and of
// one pair of enclosing quotes, and integers parse as GetPrivateProfileInt parses them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

class IniFile {
 public:
  // Parses text; lines that are neither a section, a key=value pair, a comment (';' or '#') nor
  // blank are kept in `problems` (1-based line numbers with the text), never fatal.
  static IniFile Parse(std::string_view text);
  // Reads and parses a file; nullopt when it cannot be read.
  static std::optional<IniFile> Load(const std::string& utf8_path);

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // GetPrivateProfileInt: optional sign, decimal digits (or 0x hex), parsing stops at the first
  // other character; a value without leading digits gives 0; an absent key gives fallback.
  long GetInt(std::string_view section, std::string_view key, long fallback) const;
  bool HasSection(std::string_view section) const;
  // Keys of a section in file order (original spelling).
  std::vector<std::string> Keys(std::string_view section) const;

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  const Section* Find(std::string_view section) const;
  std::vector<Section> sections_;
  std::vector<std::string> problems_;
};

// GetPrivateProfileInt's integer parse on its own.
long ParseProfileInt(std::string_view text);

}  // namespace plat
