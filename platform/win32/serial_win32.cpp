// A Windows serial port: the "\\.\COMn" device with overlapped I/O, one manual-reset event per
// direction.
#include <cstdio>
#include <string>

#include "platform/process.h"
#include "platform/serial.h"
#include "platform/sync.h"
#include "win32/os.h"

namespace plat {

namespace {

constexpr ::DWORD kPortTimeoutMs = 1000;
constexpr ::DWORD kEventMask = EV_RXCHAR | EV_CTS;  // 9
constexpr wchar_t kLineSettings[] = L"baud=%d parity=N data=8 stop=1";
constexpr int kBaud = 115200;

class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort(win32::UniqueHandle port, win32::UniqueHandle read_event, win32::UniqueHandle write_event)
      : port_(std::move(port)), read_event_(std::move(read_event)), write_event_(std::move(write_event)) {}

  bool WriteByte(BYTE byte, DWORD timeout_ms) override {
    OVERLAPPED ov{};
    ov.hEvent = write_event_.get();
    ::DWORD written = 0;
    if (!::WriteFile(port_.get(), &byte, 1, &written, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) return false;
      written = Finish(&ov, timeout_ms);
    }
    return written == 1;
  }

  DWORD BytesWaiting() override {
    ::DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port_.get(), &errors, &status)) return 0;
    return status.cbInQue;
  }

  DWORD Read(BYTE* buffer, DWORD size, DWORD timeout_ms) override {
    OVERLAPPED ov{};
    ov.hEvent = read_event_.get();
    ::DWORD read = 0;
    if (!::ReadFile(port_.get(), buffer, size, &read, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) return 0;
      read = Finish(&ov, timeout_ms);
    }
    return read;
  }

 private:
  // Waits for a pending transfer; one that is not done in time is cancelled and waited for, so
  // that no transfer outlives the call that owns its block and buffer. Returns the bytes
  // transferred.
  ::DWORD Finish(OVERLAPPED* ov, DWORD timeout_ms) {
    ::DWORD done = 0;
    if (::WaitForSingleObject(ov->hEvent, ScaleMs(timeout_ms)) != WAIT_OBJECT_0) {
      ::CancelIoEx(port_.get(), ov);
      ::GetOverlappedResult(port_.get(), ov, &done, TRUE);  // what went through before the cancel
      return done;
    }
    if (!::GetOverlappedResult(port_.get(), ov, &done, FALSE)) return 0;
    return done;
  }

  win32::UniqueHandle port_;
  win32::UniqueHandle read_event_;
  win32::UniqueHandle write_event_;
};

const char16_t* ConfigureLine(HANDLE port) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = ScaleMs(kPortTimeoutMs);
  timeouts.ReadTotalTimeoutMultiplier = ScaleMs(kPortTimeoutMs);
  timeouts.ReadTotalTimeoutConstant = ScaleMs(kPortTimeoutMs);
  timeouts.WriteTotalTimeoutMultiplier = ScaleMs(kPortTimeoutMs);
  timeouts.WriteTotalTimeoutConstant = ScaleMs(kPortTimeoutMs);
  if (!::SetCommTimeouts(port, &timeouts)) return u"SetCommTimeouts()";
  if (!::SetCommMask(port, kEventMask)) return u"SetCommMask()";

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (!::GetCommState(port, &dcb)) return u"GetCommState()";
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = kBaud;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
  dcb.XonLim = 256;
  dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 17;
  dcb.ErrorChar = 0;
  dcb.EofChar = 92;
  dcb.EvtChar = 0;
  wchar_t settings[64];
  std::swprintf(settings, sizeof settings / sizeof settings[0], kLineSettings, kBaud);
  if (!::BuildCommDCBW(settings, &dcb)) return u"BuildCommDCB()";
  if (!::SetCommState(port, &dcb)) return u"SetCommState()";
  return nullptr;
}

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(int port_number, std::u16string* failed_step) {
  if (failed_step) failed_step->clear();
  if (port_number < 1 || port_number > kMaxSerialPort) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  // The number is bounded above, so the name always fits.
  wchar_t name[32];
  std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\COM%d", port_number);
  win32::UniqueHandle port(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OVERLAPPED, nullptr));
  if (!port) return nullptr;
  win32::UniqueHandle read_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  win32::UniqueHandle write_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event || !write_event) return nullptr;
  const char16_t* failed = ConfigureLine(port.get());
  if (failed && failed_step) *failed_step = failed;
  return std::make_unique<Win32SerialPort>(std::move(port), std::move(read_event), std::move(write_event));
}

}  // namespace plat
