// Files and folders, as the suite needs them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"

namespace plat {

// The separator of the platform's own paths.
#if defined(_WIN32)
inline constexpr char16_t kPathSep = u'\\';
#else
inline constexpr char16_t kPathSep = u'/';
#endif
// True for a character that ends a folder name in a path of this platform.
bool IsPathSeparator(char16_t c);

// The folder part of a path, up to and including its last separator; the whole path when it has
// none.
std::u16string FolderOf(const std::u16string& path);

// True when the folder exists and this process may read and write in it.
bool FolderAccessible(const std::u16string& path);

// True when `path` itself (not what it leads to) is a link: a symbolic link, or on Windows any
// reparse point (a junction, a mount point).
bool IsLink(const std::u16string& path);
// True when `path`, or a folder on its way down from `root`, is a link. What lies at or above
// `root` is not looked at, and a path outside `root` is never one. For a program that writes
// below a folder others may write in: a link planted there would carry its writes to a file of
// the planter's choosing.
bool LinkBelow(const std::u16string& root, const std::u16string& path);

// Creates one folder level. Returns false (last error set) when it cannot be created; an existing
// folder counts as a failure with ERROR_ALREADY_EXISTS, as on Windows.
bool MakeFolder(const std::u16string& path);

struct FolderEntry {
  std::u16string name;
  bool is_directory = false;
  bool is_regular_file = false;
};
// The entries of a folder in the order an NTFS volume gives them: "." and ".." first, then the
// names in case-insensitive order. False (last error set) when the folder cannot be read.
bool ListFolder(const std::u16string& folder, std::vector<FolderEntry>* out);

// Deletes one file. False (last error set) on failure.
bool DeleteFileAt(const std::u16string& path);

// A file opened for reading and writing, truncated, that other openers may read but not write.
class ExclusiveWriteFile {
 public:
  virtual ~ExclusiveWriteFile() = default;
  // Writes all bytes; false on failure.
  virtual bool Write(const char* data, std::size_t size) = 0;
  // Hands buffered data to the operating system: 0 on success, non-zero on failure (as fflush).
  virtual int Flush() = 0;
  // Commits the data to the device: 0 on success, -1 on failure (as fdatasync).
  virtual int Sync() = 0;
};
// Null (last error set, ERROR_SHARING_VIOLATION while another opener writes it) on failure.
std::unique_ptr<ExclusiveWriteFile> OpenExclusiveWriteFile(const std::u16string& path);

// An advisory lock that every process of the machine respects, held on a lock file (created when
// absent). The system releases it when its holder dies.
class InterProcessFileLock {
 public:
  virtual ~InterProcessFileLock() = default;
};
// Blocks until the lock is held; null when the lock file cannot be opened.
std::unique_ptr<InterProcessFileLock> LockFile(const std::u16string& lock_path);

}  // namespace plat
