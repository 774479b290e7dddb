#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include "platform/posix/errno_map.h"
#include "platform/posix/unique_fd.h"
#include "platform/process.h"
#include "platform/pty.h"
#include "platform/sync.h"

namespace plat {

using posix::UniqueFd;

namespace {

// The write end of the pipe the termination signals are announced on (-1 when none is set up).
std::atomic<int> g_stop_pipe{-1};

extern "C" void AnnounceStop(int) {
  const int fd = g_stop_pipe.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
  }
}

class PosixPseudoTerminal final : public PseudoTerminal {
 public:
  PosixPseudoTerminal(UniqueFd master, std::string path, UniqueFd stop_read, UniqueFd stop_write)
      : master_(std::move(master)), path_(std::move(path)), stop_read_(std::move(stop_read)),
        stop_write_(std::move(stop_write)) {
    g_stop_pipe.store(stop_write_.get());
    struct sigaction sa {};
    sa.sa_handler = AnnounceStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, &old_term_);
    sigaction(SIGINT, &sa, &old_int_);
  }
  ~PosixPseudoTerminal() override {
    sigaction(SIGTERM, &old_term_, nullptr);
    sigaction(SIGINT, &old_int_, nullptr);
    g_stop_pipe.store(-1);
  }

  const std::string& path() const override { return path_; }

  Wait WaitForInput(DWORD timeout_ms) override {
    const DWORD scaled = ScaleMs(timeout_ms);
    const bool forever = scaled == INFINITE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : scaled);
    for (;;) {
      int timeout = -1;
      if (!forever) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        timeout = left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), INT_MAX));
      }
      // A master whose far end no program holds reports a hang-up at once, again and again, until
      // the next program opens it: then it is looked at again every 20 ms instead.
      if (hung_ && (timeout < 0 || timeout > kHungLookMs)) timeout = kHungLookMs;
      pollfd fds[3] = {{stop_read_.get(), POLLIN, 0}, {hung_ ? -1 : master_.get(), POLLIN, 0},
                       {STDIN_FILENO, POLLIN, 0}};
      const nfds_t count = stdin_open_ ? 3 : 2;
      const int n = poll(fds, count, timeout);
      if (n < 0 && errno != EINTR) {
        SetLastError(Win32ErrorFromErrno(errno));
        return Wait::kFailed;
      }
      if (n > 0 && (fds[0].revents & POLLIN)) return Wait::kStopRequested;
      if (n > 0 && count == 3 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
        char byte;
        // Standard input carries nothing here; its end is what counts.
        if (read(STDIN_FILENO, &byte, 1) <= 0) {
          stdin_open_ = false;
          return Wait::kInputClosed;
        }
      }
      pollfd master{master_.get(), POLLIN, 0};
      if (poll(&master, 1, 0) > 0) {
        if (master.revents & POLLIN) {
          hung_ = false;
          host_ = true;
          return Wait::kData;
        }
        if (master.revents & (POLLHUP | POLLERR)) {
          hung_ = true;
          if (host_) {
            host_ = false;
            return Wait::kNoHost;
          }
        }
      } else {
        hung_ = false;
      }
      if (!forever && std::chrono::steady_clock::now() >= deadline) return Wait::kTimeout;
    }
  }

  long Read(std::uint8_t* buffer, std::size_t size) override {
    const ssize_t r = read(master_.get(), buffer, size);
    if (r >= 0) return static_cast<long>(r);
    if (errno == EAGAIN || errno == EIO) return 0;  // EIO: the far end is not held open
    SetLastError(Win32ErrorFromErrno(errno));
    return -1;
  }

  bool Write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t w = write(master_.get(), bytes.data() + done, bytes.size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno == EAGAIN) {
        pollfd out{master_.get(), POLLOUT, 0};
        poll(&out, 1, 1000);
        continue;
      }
      if (w <= 0) {
        SetLastError(Win32ErrorFromErrno(w < 0 ? errno : EIO));
        return false;
      }
      done += static_cast<std::size_t>(w);
    }
    return true;
  }

 private:
  UniqueFd master_;
  std::string path_;
  UniqueFd stop_read_;
  UniqueFd stop_write_;
  struct sigaction old_term_ {};
  struct sigaction old_int_ {};
  static constexpr int kHungLookMs = 20;
  bool stdin_open_ = true;
  bool hung_ = false;  // the far end was last seen held by no program
  bool host_ = false;  // a program has written since the far end was last seen unheld
};

}  // namespace

std::unique_ptr<PseudoTerminal> OpenPseudoTerminal() {
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!master || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  char name[128];
  if (ptsname_r(master.get(), name, sizeof name) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  // Raw: the MBIM bytes pass as they are, in both directions. The settings are the far end's and
  // stay with the terminal from one program that opens it to the next.
  termios t{};
  if (tcgetattr(master.get(), &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(master.get(), TCSANOW, &t);
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  return std::make_unique<PosixPseudoTerminal>(std::move(master), name, UniqueFd(pipe_fds[0]), UniqueFd(pipe_fds[1]));
}

bool MakeSymbolicLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      SetLastError(ERROR_FILE_EXISTS);
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return false;
  }
  return true;
}

void RemoveSymbolicLink(const std::string& link, const std::string& target) {
  char buffer[4096];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n < 0) return;
  buffer[n] = 0;
  if (target == buffer) unlink(link.c_str());
}

}  // namespace plat
