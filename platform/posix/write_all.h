// Writing a whole buffer to a descriptor, for the posix backend. Async-signal-safe: the crash
// handler uses it too.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace plat::posix {

// Retries interrupted and partial writes; stops at the first real failure. True when all was written.
inline bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace plat::posix
