#include <algorithm>
#include <climits>
#include <utility>

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "common/name_order.h"
#include "win32/os.h"

namespace plat {

namespace {

const wchar_t* P(const std::u16string& path) { return win32::W(path.c_str()); }

class Win32ExclusiveWriteFile final : public ExclusiveWriteFile {
 public:
  explicit Win32ExclusiveWriteFile(win32::UniqueHandle h) : h_(std::move(h)) {}

  bool Write(const char* data, std::size_t size) override {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      ::DWORD written = 0;
      if (!::WriteFile(h_.get(), data, chunk, &written, nullptr)) return false;
      if (written == 0) {
        SetLastError(ERROR_INVALID_HANDLE);  // a disk file never takes nothing; do not spin
        return false;
      }
      data += written;
      size -= written;
    }
    return true;
  }
  // WriteFile hands every byte to the system at once: nothing is buffered here.
  int Flush() override { return 0; }
  int Sync() override { return ::FlushFileBuffers(h_.get()) ? 0 : -1; }

 private:
  win32::UniqueHandle h_;
};

class Win32FileLock final : public InterProcessFileLock {
 public:
  explicit Win32FileLock(win32::UniqueHandle h) : h_(std::move(h)) {}
  ~Win32FileLock() override {
    const ::DWORD saved = ::GetLastError();  // releasing is no news to the caller
    OVERLAPPED at{};
    ::UnlockFileEx(h_.get(), 0, 1, 0, &at);
    ::SetLastError(saved);
  }

 private:
  win32::UniqueHandle h_;
};

bool IsDirectory(const std::u16string& path) {
  const ::DWORD attrs = ::GetFileAttributesW(P(path));
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FolderEntry EntryOf(const WIN32_FIND_DATAW& fd) {
  FolderEntry e;
  e.name = win32::U(fd.cFileName);
  // Symbolic links and junctions are neither, as lstat sees them on POSIX; other reparse points
  // (cloud placeholders, deduplicated files) are ordinary files and folders.
  const bool link = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                    IsReparseTagNameSurrogate(fd.dwReserved0);
  const bool dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  e.is_directory = dir && !link;
  e.is_regular_file = !dir && !link && (fd.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  return e;
}

}  // namespace

bool IsLink(const std::u16string& path) {
  const ::DWORD attributes = ::GetFileAttributesW(P(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool FolderAccessible(const std::u16string& path) {
  if (path.empty() || !IsDirectory(path)) return false;
  // Opening the folder itself for listing and adding files runs the same access check that
  // creating a file in it would, without leaving anything behind.
  win32::UniqueHandle dir(::CreateFileW(P(path), FILE_LIST_DIRECTORY | FILE_ADD_FILE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return static_cast<bool>(dir);
}

bool MakeFolder(const std::u16string& path) { return ::CreateDirectoryW(P(path), nullptr) != 0; }

bool ListFolder(const std::u16string& folder, std::vector<FolderEntry>* out) {
  out->clear();
  std::u16string pattern = folder;
  if (!pattern.empty() && !IsPathSeparator(pattern.back()) && pattern.back() != u':')
    pattern.push_back(kPathSep);
  pattern.push_back(u'*');

  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW fd{};
  const win32::UniqueFindHandle find(
      ::FindFirstFileExW(P(pattern), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0));
  if (!find) {
    // A drive root holding nothing has no "." and ".." either, so the search finds nothing at all.
    if (::GetLastError() != ERROR_FILE_NOT_FOUND || !IsDirectory(folder.empty() ? u"." : folder)) {
      if (::GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
  } else {
    do {
      const std::u16string_view name = win32::U(fd.cFileName);
      if (name == u"." || name == u"..") continue;
      entries.push_back(EntryOf(fd));
    } while (::FindNextFileW(find.get(), &fd));
    if (::GetLastError() != ERROR_NO_MORE_FILES) return false;
  }
  // The order of the volume is not trusted: FAT and network shares give their own. Sorting here
  // makes every file system list as NTFS does.
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return NtfsNameLess(a.name, b.name); });
  out->push_back(FolderEntry{u".", true, false});
  out->push_back(FolderEntry{u"..", true, false});
  out->insert(out->end(), std::make_move_iterator(entries.begin()),
              std::make_move_iterator(entries.end()));
  return true;
}

bool DeleteFileAt(const std::u16string& path) { return ::DeleteFileW(P(path)) != 0; }

std::unique_ptr<ExclusiveWriteFile> OpenExclusiveWriteFile(const std::u16string& path) {
  // The sharing check comes before CREATE_ALWAYS truncates, so a refused open leaves the file that
  // another writer holds as it was.
  win32::UniqueHandle h(::CreateFileW(P(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return nullptr;  // ERROR_SHARING_VIOLATION while another writer has it
  // CREATE_ALWAYS reports an existing file through the last error even on success.
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<Win32ExclusiveWriteFile>(std::move(h));
}

std::unique_ptr<InterProcessFileLock> LockFile(const std::u16string& lock_path) {
  // No delete sharing: a lock file that could vanish under its holder would let the next comer
  // lock a fresh file of the same name.
  win32::UniqueHandle h(::CreateFileW(P(lock_path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return nullptr;
  // A byte-range lock belongs to the handle: the system drops it when the handle is closed, which
  // includes the holder dying. Nobody reads the lock file, so its first byte stands for the lock.
  OVERLAPPED at{};
  if (!::LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) return nullptr;
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<Win32FileLock>(std::move(h));
}

}  // namespace plat
