// A serial port as a terminal device: $TXL_MACHINE_DIR/dev/COMn, in raw mode at 115200 8N1.
// Non-blocking I/O with poll() stands in for the overlapped I/O of the Windows port.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/machine.h"
#include "platform/process.h"
#include "platform/serial.h"
#include "platform/sync.h"
#include "posix/errno_map.h"
#include "posix/unique_fd.h"

namespace plat {

namespace {

int PollMs(DWORD scaled) { return scaled > 0x7FFFFFFFu ? -1 : static_cast<int>(scaled); }

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(posix::UniqueFd fd) : fd_(std::move(fd)) {}

  bool WriteByte(BYTE byte, DWORD timeout_ms) override {
    for (bool waited = false;;) {
      const ssize_t n = ::write(fd_.get(), &byte, 1);
      if (n == 1) return true;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (waited) return false;
      pollfd p{fd_.get(), POLLOUT, 0};
      if (::poll(&p, 1, PollMs(ScaleMs(timeout_ms))) <= 0) return false;
      waited = true;
    }
  }

  DWORD BytesWaiting() override {
    int waiting = 0;
    if (::ioctl(fd_.get(), FIONREAD, &waiting) != 0 || waiting < 0) return 0;
    return static_cast<DWORD>(waiting);
  }

  DWORD Read(BYTE* buffer, DWORD size, DWORD timeout_ms) override {
    const DWORD scaled = ScaleMs(timeout_ms);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled);
    DWORD got = 0;
    while (got < size) {
      const ssize_t n = ::read(fd_.get(), buffer + got, size - got);
      if (n > 0) {
        got += static_cast<DWORD>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
      int wait_ms = -1;
      if (scaled != INFINITE) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        wait_ms = static_cast<int>(left.count());
      }
      pollfd p{fd_.get(), POLLIN, 0};
      if (::poll(&p, 1, wait_ms) <= 0) break;
    }
    return got;
  }

 private:
  const posix::UniqueFd fd_;
};

// The line settings of the Windows port: 115200 baud, 8N1, no hardware or software flow control,
// no translation of any byte, reads that never block (the caller polls).
const char16_t* ConfigureLine(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return u"GetCommState()";
  ::cfmakeraw(&tio);
  if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0) return u"BuildCommDCB()";
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return u"SetCommState()";
  return nullptr;
}

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(int port_number, std::u16string* failed_step) {
  if (failed_step) failed_step->clear();
  if (port_number < 1 || port_number > kMaxSerialPort) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const std::filesystem::path path = MachineDir() / "dev" / ("COM" + std::to_string(port_number));
  posix::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    SetLastError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  // Not shared: a second opener, in this process or another, is refused as Windows refuses it.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const char16_t* failed = ConfigureLine(fd.get());
  auto port = std::make_unique<PosixSerialPort>(std::move(fd));
  if (failed && failed_step) *failed_step = failed;
  return port;
}

}  // namespace plat
