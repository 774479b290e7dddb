#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"
#include "win32/os.h"

namespace plat {

namespace {

const wchar_t* N(const std::u16string& s) { return win32::W(s.c_str()); }

// The Reg* functions report through their result and leave the last error alone; ours sets it on
// failure so that a caller that only logs the last error still sees why.
LONG Result(::LONG rc) {
  if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
  return static_cast<LONG>(rc);
}

HKEY Root(RegistryHive hive) { return hive == RegistryHive::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

class Win32RegistryKey final : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY h) : key_(h) {}

  LONG QueryDword(const std::u16string& name, DWORD* value) override {
    ::DWORD type = REG_NONE;
    ::DWORD data = 0;
    ::DWORD size = sizeof data;
    const ::LONG rc = ::RegQueryValueExW(key_.get(), N(name), nullptr, &type, reinterpret_cast<::BYTE*>(&data), &size);
    // The type comes back even when the data did not fit, and a wrong type is the better answer.
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return Result(rc);
    if (type != REG_DWORD) return Result(ERROR_UNSUPPORTED_TYPE);
    if (rc == ERROR_MORE_DATA) return Result(rc);
    if (size != sizeof data) return Result(ERROR_INVALID_DATA);
    *value = data;
    return ERROR_SUCCESS;
  }

  LONG SetDword(const std::u16string& name, DWORD value) override {
    const ::DWORD data = value;
    return Result(::RegSetValueExW(key_.get(), N(name), 0, REG_DWORD, reinterpret_cast<const ::BYTE*>(&data),
                                   sizeof data));
  }

  LONG QueryString(const std::u16string& name, std::u16string* value, DWORD* type) override {
    std::vector<char16_t> buf(64);
    for (;;) {
      ::DWORD stored = REG_NONE;
      // One unit stays spare: the stored text need not end in a NUL.
      ::DWORD size = static_cast<::DWORD>((buf.size() - 1) * sizeof(char16_t));
      const ::LONG rc =
          ::RegQueryValueExW(key_.get(), N(name), nullptr, &stored, reinterpret_cast<::BYTE*>(buf.data()), &size);
      if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return Result(rc);
      if (stored != REG_SZ && stored != REG_EXPAND_SZ) return Result(ERROR_UNSUPPORTED_TYPE);
      if (rc == ERROR_MORE_DATA) {
        // Someone may make the value longer again before the next call; then we simply go round.
        buf.assign(size / sizeof(char16_t) + 2, u'\0');
        continue;
      }
      if (size % sizeof(char16_t) != 0) return Result(ERROR_INVALID_DATA);
      buf[size / sizeof(char16_t)] = u'\0';
      *value = std::u16string(buf.data());  // up to the first NUL
      if (type) *type = stored;
      return ERROR_SUCCESS;
    }
  }

  LONG SetString(const std::u16string& name, const std::u16string& value, DWORD type) override {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Result(ERROR_INVALID_PARAMETER);
    const auto size = static_cast<::DWORD>((value.size() + 1) * sizeof(char16_t));
    return Result(
        ::RegSetValueExW(key_.get(), N(name), 0, type, reinterpret_cast<const ::BYTE*>(value.c_str()), size));
  }

  LONG DeleteValue(const std::u16string& name) override { return Result(::RegDeleteValueW(key_.get(), N(name))); }

  LONG CountSubkeys(DWORD* count) override {
    ::DWORD n = 0;
    const ::LONG rc = ::RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return Result(rc);
    *count = n;
    return ERROR_SUCCESS;
  }

 private:
  win32::UniqueHkey key_;
};

}  // namespace

LONG OpenRegistryKey(RegistryHive hive, const std::u16string& subkey, std::unique_ptr<RegistryKey>* out) {
  HKEY h = nullptr;
  const ::LONG rc = ::RegOpenKeyExW(Root(hive), N(subkey), 0, KEY_ALL_ACCESS, &h);
  if (rc != ERROR_SUCCESS) return Result(rc);
  *out = std::make_unique<Win32RegistryKey>(h);
  return ERROR_SUCCESS;
}

LONG CreateRegistryKey(RegistryHive hive, const std::u16string& subkey, std::unique_ptr<RegistryKey>* out) {
  HKEY h = nullptr;
  const ::LONG rc = ::RegCreateKeyExW(Root(hive), N(subkey), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                      nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) return Result(rc);
  *out = std::make_unique<Win32RegistryKey>(h);
  return ERROR_SUCCESS;
}

LONG DeleteRegistryKey(RegistryHive hive, const std::u16string& subkey) {
  return Result(::RegDeleteKeyW(Root(hive), N(subkey)));
}

}  // namespace plat
