#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"
#include "platform/whole_file.h"
#include "posix/errno_map.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

bool WriteEvery(int fd, const std::uint8_t* p, std::size_t left) {
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FailErrno() {
  SetLastError(Win32ErrorFromErrno(errno));
  return false;
}

}  // namespace

bool ReplaceFileContents(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::path temp = file;
  temp += ".tmp";
  {
    const posix::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) return FailErrno();
    // The data reaches the disk before the rename, so after a crash the file is either the old
    // one or the new one.
    if (!WriteEvery(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0) {
      const int e = errno;
      ::unlink(temp.c_str());
      errno = e;
      return FailErrno();
    }
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    errno = e;
    return FailErrno();
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  const posix::UniqueFd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return true;
}

}  // namespace plat
