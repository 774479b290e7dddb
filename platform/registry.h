// The registry: a few keys of the suite under HKEY_LOCAL_MACHINE (or HKEY_CURRENT_USER) with DWORD
// and string values.
//
// Results are Windows error codes as the Reg* functions return them (ERROR_SUCCESS on success).
// A failure also sets the thread's last error to the same code; success leaves it alone.
//
// Windows: the system registry, every key opened with KEY_ALL_ACCESS.
// POSIX: the registry of the simulated notebook, $TXL_MACHINE_DIR/registry.reg, a registry editor
// export in UTF-8 (see platform/common/registry_file.h for the format). Every change rewrites the
// file whole under registry.lock, so concurrent processes never lose each other's writes and a
// reader never sees half a file. A handle names a key by its path and re-reads the file on each
// call: it sees other processes' changes, and a key deleted meanwhile gives ERROR_KEY_DELETED. A
// file that cannot be parsed is never overwritten: what cannot be read is absent, and every change
// fails with ERROR_BADDB.
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace plat {

// Value types, with Windows' numbers.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Error codes the registry gives besides those of platform/types.h.
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_BADDB = 1009;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_UNSUPPORTED_TYPE = 1630;

enum class RegistryHive { kLocalMachine, kCurrentUser };

// An open key. Value names compare case-insensitively; the empty name is the key's default value.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;

  // A REG_DWORD of exactly four bytes. ERROR_FILE_NOT_FOUND when the value is absent,
  // ERROR_UNSUPPORTED_TYPE when it has another type, ERROR_MORE_DATA when it is longer and
  // ERROR_INVALID_DATA when it is shorter. *value is written only on success, so a default the
  // caller put there stands after any failure.
  virtual LONG QueryDword(const std::u16string& name, DWORD* value) = 0;
  virtual LONG SetDword(const std::u16string& name, DWORD value) = 0;

  // A REG_SZ or REG_EXPAND_SZ (not expanded), up to its first NUL. type, when not null, receives
  // which of the two it is. Other types give ERROR_UNSUPPORTED_TYPE, data of an odd byte count
  // ERROR_INVALID_DATA; *value and *type are written only on success.
  virtual LONG QueryString(const std::u16string& name, std::u16string* value, DWORD* type = nullptr) = 0;
  // Stores the text with its terminating NUL, as REG_SZ or REG_EXPAND_SZ (any other type gives
  // ERROR_INVALID_PARAMETER).
  virtual LONG SetString(const std::u16string& name, const std::u16string& value, DWORD type = REG_SZ) = 0;

  virtual LONG DeleteValue(const std::u16string& name) = 0;
  // The number of direct sub-keys.
  virtual LONG CountSubkeys(DWORD* count) = 0;
};

// Sub-key paths are relative to the hive, levels separated by '\' (e.g. "SOFTWARE\TXL"); the
// empty path is the hive itself. Names compare case-insensitively.

// Opens an existing key: ERROR_FILE_NOT_FOUND when it does not exist. *out is set only on success.
LONG OpenRegistryKey(RegistryHive hive, const std::u16string& subkey, std::unique_ptr<RegistryKey>* out);
// Opens a key, creating it and any missing level above it first.
LONG CreateRegistryKey(RegistryHive hive, const std::u16string& subkey, std::unique_ptr<RegistryKey>* out);
// Deletes a key with its values. As on Windows, a key that has sub-keys is not deleted
// (ERROR_ACCESS_DENIED); an absent one gives ERROR_FILE_NOT_FOUND.
LONG DeleteRegistryKey(RegistryHive hive, const std::u16string& subkey);

}  // namespace plat
