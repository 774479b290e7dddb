// Owns one file descriptor of the posix backend: closed on scope exit, on every path. Closing
// keeps errno as it was, so a failure the caller is about to report is not overwritten. The
// destructor only calls close(), so the crash handler may use it too.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/unique.h"

namespace plat::posix {

struct FdTraits {
  static int None() { return -1; }
  static bool IsNone(int fd) { return fd < 0; }
  static void Close(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
  }
};

using UniqueFd = UniqueResource<int, FdTraits>;

}  // namespace plat::posix
