// Reading and writing a whole buffer through a descriptor, for the posix backend. Async-signal-safe:
// the crash handler and the child side of a spawn use it too.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace plat::posix {

// Moves a whole buffer through read() or write(), retrying interrupted and partial transfers;
// stops at the first real failure or, reading, at the end of the file. True when all was moved.
template <class Transfer, class Byte>
inline bool TransferAll(Transfer transfer, int fd, Byte* p, std::size_t size) {
  while (size > 0) {
    const ssize_t n = transfer(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

inline bool WriteAll(int fd, const void* data, std::size_t size) {
  return TransferAll(::write, fd, static_cast<const char*>(data), size);
}

// Reads exactly `size` bytes; false at end of file first.
inline bool ReadAll(int fd, void* data, std::size_t size) {
  return TransferAll(::read, fd, static_cast<char*>(data), size);
}

}  // namespace plat::posix
