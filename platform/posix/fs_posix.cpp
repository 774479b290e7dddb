#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "common/name_order.h"
#include "posix/errno_map.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

std::string Narrow(const std::u16string& path) { return ToAnsi(path); }

void SetErrno() { SetLastError(Win32ErrorFromErrno(errno)); }

class PosixExclusiveWriteFile final : public ExclusiveWriteFile {
 public:
  // Closing the descriptor also drops the flock.
  explicit PosixExclusiveWriteFile(posix::UniqueFd fd) : fd_(std::move(fd)) {}

  bool Write(const char* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_.get(), data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        SetErrno();
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  // Writes are unbuffered: there is nothing to hand over.
  int Flush() override { return 0; }
  int Sync() override { return ::fdatasync(fd_.get()) == 0 ? 0 : -1; }

 private:
  posix::UniqueFd fd_;
};

class PosixFileLock final : public InterProcessFileLock {
 public:
  explicit PosixFileLock(posix::UniqueFd fd) : fd_(std::move(fd)) {}
  ~PosixFileLock() override { ::flock(fd_.get(), LOCK_UN); }

 private:
  posix::UniqueFd fd_;
};

}  // namespace

bool IsLink(const std::u16string& path) {
  struct stat st {};
  return ::lstat(Narrow(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool FolderAccessible(const std::u16string& path) {
  struct stat st {};
  const std::string p = Narrow(path);
  if (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::access(p.c_str(), R_OK | W_OK) == 0;
}

bool MakeFolder(const std::u16string& path) {
  if (::mkdir(Narrow(path).c_str(), 0777) == 0) return true;
  SetErrno();
  return false;
}

bool ListFolder(const std::u16string& folder, std::vector<FolderEntry>* out) {
  out->clear();
  std::string dir = Narrow(folder);
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) {
    SetErrno();
    return false;
  }
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  std::vector<FolderEntry> entries;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry fe;
    fe.name = FromAnsi(name);
    struct stat st {};
    if (::lstat((dir + name).c_str(), &st) == 0) {
      fe.is_directory = S_ISDIR(st.st_mode);
      fe.is_regular_file = S_ISREG(st.st_mode);
    }
    entries.push_back(std::move(fe));
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return NtfsNameLess(a.name, b.name); });
  out->push_back(FolderEntry{u".", true, false});
  out->push_back(FolderEntry{u"..", true, false});
  out->insert(out->end(), entries.begin(), entries.end());
  return true;
}

bool DeleteFileAt(const std::u16string& path) {
  if (::unlink(Narrow(path).c_str()) == 0) return true;
  SetErrno();
  return false;
}

std::unique_ptr<ExclusiveWriteFile> OpenExclusiveWriteFile(const std::u16string& path) {
  // Open without truncating first: a file another writer holds must survive the refused open.
  posix::UniqueFd fd(::open(Narrow(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd) {
    SetErrno();
    return nullptr;
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return nullptr;
  }
  if (::ftruncate(fd.get(), 0) != 0) {
    SetErrno();
    return nullptr;
  }
  return std::make_unique<PosixExclusiveWriteFile>(std::move(fd));
}

std::unique_ptr<InterProcessFileLock> LockFile(const std::u16string& lock_path) {
  posix::UniqueFd fd(::open(Narrow(lock_path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd) {
    SetErrno();
    return nullptr;
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetErrno();
      return nullptr;
    }
  }
  return std::make_unique<PosixFileLock>(std::move(fd));
}

}  // namespace plat
