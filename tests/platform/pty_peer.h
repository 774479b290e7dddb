// The far end of a serial line for tests: the master side of a pseudo-terminal whose slave side
// the notebook's link dev/COMn points at. POSIX only, as the tests are.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/sync.h"

namespace txl_test {

class PtyPeer {
 public:
  // Links machine_dir/dev/COM<port> to a new pseudo-terminal.
  PtyPeer(const std::filesystem::path& machine_dir, int port) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* slave = ::ptsname(master_);
    if (!slave) return;
    std::filesystem::create_directories(machine_dir / "dev");
    link_ = machine_dir / "dev" / ("COM" + std::to_string(port));
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    std::filesystem::create_symlink(slave, link_, ec);
    ok_ = !ec;
  }
  ~PtyPeer() {
    if (master_ >= 0) ::close(master_);
    std::error_code ec;
    if (!link_.empty()) std::filesystem::remove(link_, ec);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool ok() const { return ok_; }

  bool Write(const std::string& bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Collects what the port sent until `expected` bytes came or `wait_ms` (unscaled) passed.
  std::string Read(std::size_t expected, int wait_ms) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (got.size() < expected) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      pollfd p{master_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buffer[256];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;  // EIO once the port side is closed
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int master_ = -1;
  std::filesystem::path link_;
  bool ok_ = false;
};

}  // namespace txl_test
