// A registry held as the text a registry editor exports, read and written by pure functions.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\OEM]
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\OEM\Corvid\SAR]
//   "Body_Sar_ON"=dword:00000001
//   "Note"="C:\\Program Files\\a \"quoted\" word"
//   "ImagePath"=hex(2):43,00,3a,00,00,00
//
// Written in UTF-8 with CRLF line ends, one blank line before every key and one at the end, keys
// in tree order (a parent before its children, siblings by upper-cased name), values in the order
// they were first set. A REG_DWORD of four bytes is written as dword:, a REG_SZ whose data is one
// NUL-terminated line of well-formed UTF-16 as "text" (only '\' and '"' escaped); any other value
// as hex: (REG_BINARY) or hex(N): with its bytes, wrapped with a trailing '\' as the editor wraps
// them. The empty value name is written @.
//
// Every key has its own line: a key exists as soon as its line does, and every level between the
// hive and a key exists too (Windows cannot hold a key without its parent), so creating A\B\C also
// writes the lines of A and A\B. A file that leaves out a parent's line still reads with the parent
// in place. The hive itself (HKEY_LOCAL_MACHINE) always exists and has a line only once it holds
// values.
//
// Reading is lenient and never guesses: the header, blank lines, ';' comments, key lines, and
// value lines of the forms above are understood (LF or CRLF, a UTF-8 or UTF-16LE byte-order mark);
// a line that is anything else is recorded as a problem and left out, and so are the value lines
// that follow a key line that could not be read. Without the header nothing is read. Key and value
// names compare case-insensitively and keep the spelling they were first given.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/types.h"

namespace plat::regfile {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// The registry's case folding of one UTF-16 unit (ASCII, Latin-1, Greek and Cyrillic letters).
char16_t Upcase(char16_t c);
bool NamesEqual(std::u16string_view a, std::u16string_view b);

struct Value {
  std::u16string name;
  DWORD type = 0;
  std::vector<BYTE> data;

  bool operator==(const Value&) const = default;
};

struct Key {
  std::u16string path;  // from the hive on, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\TXL
  std::vector<Value> values;

  Value* FindValue(std::u16string_view name);
  const Value* FindValue(std::u16string_view name) const;
  // Replaces the type and data of an existing value (keeping its place and spelling) or appends it.
  void SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data);
  bool DeleteValue(std::u16string_view name);

  bool operator==(const Key&) const = default;
};

// Orders paths as the export lists them: level by level, each level by its upper-cased name.
struct PathLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};

class Document {
 public:
  // Keys by path, in the order they are written.
  const std::map<std::u16string, Key, PathLess>& keys() const { return keys_; }
  // What could not be read ("line N: ..."); empty for a file that read whole.
  const std::vector<std::string>& problems() const { return problems_; }

  // The key at a path; null when absent. A hive without a line of its own is absent here.
  Key* Find(std::u16string_view path);
  const Key* Find(std::u16string_view path) const;
  // The key at a path, adding it and every missing level below the hive. true in *created when
  // anything was added.
  Key& Ensure(std::u16string_view path, bool* created = nullptr);
  // Removes one key (and its values), whatever lies below it; false when it was absent.
  bool Remove(std::u16string_view path);
  // The number of keys directly below the path.
  DWORD CountSubkeys(std::u16string_view path) const;

  void AddProblem(std::string problem) { problems_.push_back(std::move(problem)); }

  // Equal documents format to the same text.
  bool operator==(const Document&) const = default;

 private:
  std::map<std::u16string, Key, PathLess> keys_;
  std::vector<std::string> problems_;
};

// True for a hive name the file may hold (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS,
// HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG), in any case.
bool IsHiveName(std::u16string_view name);
// A path from the hive on is well formed when it starts with a hive name and every further level
// is a non-empty name without control characters or broken UTF-16 (and so without '\').
bool IsValidKeyPath(std::u16string_view path);
// A value name can be written when it has no line break, NUL or broken UTF-16.
bool IsWritableValueName(std::u16string_view name);

Document Parse(std::string_view bytes);
std::string Format(const Document& doc);

}  // namespace plat::regfile
