#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/bytes.h"
#include "platform/common/registry_file.h"
#include "platform/fs.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/whole_file.h"
#include "posix/errno_map.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

std::filesystem::path RegistryFile() { return MachineDir() / "registry.reg"; }
std::filesystem::path RegistryLock() { return MachineDir() / "registry.lock"; }

LONG Fail(DWORD code) {
  SetLastError(code);
  return static_cast<LONG>(code);
}

LONG FailErrno() { return Fail(Win32ErrorFromErrno(errno)); }

// The last registry text this process parsed, with its document. Every access still reads the
// file, which stays the one truth between processes, but an unchanged text is not parsed again:
// parsing a large registry on every access is what made a run crawl.
struct ParsedRegistry {
  std::mutex mu;
  std::string bytes;
  std::shared_ptr<const regfile::Document> doc;
};
ParsedRegistry& Parsed() {
  static auto* parsed = new ParsedRegistry;  // reached from any thread until the process ends
  return *parsed;
}

std::shared_ptr<const regfile::Document> Remember(std::string bytes, regfile::Document doc) {
  ParsedRegistry& p = Parsed();
  std::lock_guard<std::mutex> lock(p.mu);
  p.bytes = std::move(bytes);
  p.doc = std::make_shared<const regfile::Document>(std::move(doc));
  return p.doc;
}

// The registry as the file holds it now; an absent file is an empty registry.
LONG Load(std::shared_ptr<const regfile::Document>* doc) {
  const posix::UniqueFd fd(::open(RegistryFile().c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    if (errno != ENOENT) return FailErrno();
    *doc = std::make_shared<const regfile::Document>();
    return ERROR_SUCCESS;
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  {
    ParsedRegistry& p = Parsed();
    std::lock_guard<std::mutex> lock(p.mu);
    if (p.doc && p.bytes == bytes) {
      *doc = p.doc;
      return ERROR_SUCCESS;
    }
  }
  regfile::Document parsed = regfile::Parse(bytes);
  *doc = Remember(std::move(bytes), std::move(parsed));
  return ERROR_SUCCESS;
}

// Replaces the file by one holding text (platform/whole_file.h: after a crash the file is either
// the old one or the new one, never a mix).
LONG Store(const std::string& text) {
  if (!ReplaceFileContents(RegistryFile(), std::vector<std::uint8_t>(text.begin(), text.end()))) {
    return static_cast<LONG>(GetLastError());
  }
  return ERROR_SUCCESS;
}

// Read-modify-write under the lock every process of the notebook takes. change returns
// ERROR_SUCCESS to have its edit written; anything else is returned without writing.
template <class Change>
LONG Modify(Change&& change) {
  const auto lock = LockFile(RegistryLock().u16string());
  if (!lock) return Fail(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_ACCESS_DENIED);
  std::shared_ptr<const regfile::Document> current;
  if (const LONG rc = Load(&current); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
  // Rewriting a file with lines we could not read would throw those lines away.
  if (!current->problems().empty()) return Fail(ERROR_BADDB);
  regfile::Document doc = *current;
  if (const LONG rc = change(doc); rc != static_cast<LONG>(ERROR_SUCCESS)) return Fail(static_cast<DWORD>(rc));
  if (doc == *current) return ERROR_SUCCESS;
  std::string after = regfile::Format(doc);
  if (const LONG rc = Store(after); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
  // Still under the lock: the file holds exactly this text now.
  Remember(std::move(after), std::move(doc));
  return ERROR_SUCCESS;
}

std::u16string_view HiveName(RegistryHive hive) {
  return hive == RegistryHive::kCurrentUser ? u"HKEY_CURRENT_USER" : u"HKEY_LOCAL_MACHINE";
}

// The path from the hive on, or empty when the sub-key path is not one. One trailing '\' is
// tolerated, as Windows tolerates it.
std::u16string FullPath(RegistryHive hive, const std::u16string& subkey) {
  std::u16string path(HiveName(hive));
  std::u16string_view rest = subkey;
  if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
  if (!rest.empty()) path.append(u"\\").append(rest);
  if (!regfile::IsValidKeyPath(path)) return std::u16string();
  return path;
}

bool IsHivePath(std::u16string_view path) { return path.find(u'\\') == std::u16string_view::npos; }

// The hive exists without a line of its own.
bool KeyExists(const regfile::Document& doc, std::u16string_view path) {
  return IsHivePath(path) || doc.Find(path) != nullptr;
}

class PosixRegistryKey final : public RegistryKey {
 public:
  explicit PosixRegistryKey(std::u16string path) : path_(std::move(path)) {}

  LONG QueryDword(const std::u16string& name, DWORD* value) override {
    regfile::Value v;
    if (const LONG rc = Lookup(name, &v); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
    if (v.type != REG_DWORD) return Fail(ERROR_UNSUPPORTED_TYPE);
    if (v.data.size() > 4) return Fail(ERROR_MORE_DATA);
    if (v.data.size() < 4) return Fail(ERROR_INVALID_DATA);
    *value = *ReadU32(v.data, 0);
    return ERROR_SUCCESS;
  }

  LONG SetDword(const std::u16string& name, DWORD value) override {
    std::vector<BYTE> data;
    AppendU32(data, value);
    return SetValue(name, REG_DWORD, std::move(data));
  }

  LONG QueryString(const std::u16string& name, std::u16string* value, DWORD* type) override {
    regfile::Value v;
    if (const LONG rc = Lookup(name, &v); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return Fail(ERROR_UNSUPPORTED_TYPE);
    if (v.data.size() % 2 != 0) return Fail(ERROR_INVALID_DATA);
    std::u16string text;
    for (std::size_t i = 0; i < v.data.size(); i += 2) {
      const auto c = static_cast<char16_t>(*ReadU16(v.data, i));
      if (c == u'\0') break;
      text.push_back(c);
    }
    *value = std::move(text);
    if (type) *type = v.type;
    return ERROR_SUCCESS;
  }

  LONG SetString(const std::u16string& name, const std::u16string& value, DWORD type) override {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> data;
    data.reserve((value.size() + 1) * 2);
    for (char16_t c : value) AppendU16(data, c);
    AppendU16(data, 0);
    return SetValue(name, type, std::move(data));
  }

  LONG DeleteValue(const std::u16string& name) override {
    return Modify([&](regfile::Document& doc) -> LONG {
      if (!KeyExists(doc, path_)) return static_cast<LONG>(ERROR_KEY_DELETED);
      regfile::Key* key = doc.Find(path_);
      if (!key || !key->DeleteValue(name)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
      return static_cast<LONG>(ERROR_SUCCESS);
    });
  }

  LONG CountSubkeys(DWORD* count) override {
    std::shared_ptr<const regfile::Document> doc;
    if (const LONG rc = Load(&doc); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
    if (!KeyExists(*doc, path_)) return Fail(ERROR_KEY_DELETED);
    *count = doc->CountSubkeys(path_);
    return ERROR_SUCCESS;
  }

 private:
  LONG Lookup(const std::u16string& name, regfile::Value* out) const {
    std::shared_ptr<const regfile::Document> doc;
    if (const LONG rc = Load(&doc); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
    if (!KeyExists(*doc, path_)) return Fail(ERROR_KEY_DELETED);
    const regfile::Key* key = doc->Find(path_);
    const regfile::Value* v = key ? key->FindValue(name) : nullptr;
    if (!v) return Fail(ERROR_FILE_NOT_FOUND);
    *out = *v;
    return ERROR_SUCCESS;
  }

  LONG SetValue(const std::u16string& name, DWORD type, std::vector<BYTE> data) {
    if (!regfile::IsWritableValueName(name)) return Fail(ERROR_INVALID_PARAMETER);
    return Modify([&](regfile::Document& doc) -> LONG {
      if (!KeyExists(doc, path_)) return static_cast<LONG>(ERROR_KEY_DELETED);
      doc.Ensure(path_).SetValue(name, type, std::move(data));
      return static_cast<LONG>(ERROR_SUCCESS);
    });
  }

  const std::u16string path_;
};

}  // namespace

LONG OpenRegistryKey(RegistryHive hive, const std::u16string& subkey, std::unique_ptr<RegistryKey>* out) {
  const std::u16string path = FullPath(hive, subkey);
  if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);
  std::shared_ptr<const regfile::Document> doc;
  if (const LONG rc = Load(&doc); rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
  if (!KeyExists(*doc, path)) return Fail(ERROR_FILE_NOT_FOUND);
  *out = std::make_unique<PosixRegistryKey>(path);
  return ERROR_SUCCESS;
}

LONG CreateRegistryKey(RegistryHive hive, const std::u16string& subkey, std::unique_ptr<RegistryKey>* out) {
  const std::u16string path = FullPath(hive, subkey);
  if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);
  const LONG rc = Modify([&](regfile::Document& doc) -> LONG {
    // The hive needs no line to exist; it gets one with its first value.
    if (!IsHivePath(path)) doc.Ensure(path);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (rc != static_cast<LONG>(ERROR_SUCCESS)) return rc;
  *out = std::make_unique<PosixRegistryKey>(path);
  return ERROR_SUCCESS;
}

LONG DeleteRegistryKey(RegistryHive hive, const std::u16string& subkey) {
  const std::u16string path = FullPath(hive, subkey);
  if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);
  if (IsHivePath(path)) return Fail(ERROR_ACCESS_DENIED);
  return Modify([&](regfile::Document& doc) -> LONG {
    if (!doc.Find(path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (doc.CountSubkeys(path) > 0) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    doc.Remove(path);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

}  // namespace plat
