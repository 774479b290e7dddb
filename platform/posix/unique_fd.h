// Owns one file descriptor of the posix backend: closed on scope exit, on every path. Closing
// keeps errno as it was, so a failure the caller is about to report is not overwritten. The
// destructor only calls close(), so the crash handler may use it too.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace plat::posix {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd < 0 ? -1 : fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
    fd_ = fd < 0 ? -1 : fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace plat::posix
