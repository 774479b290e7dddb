// Serial ports ("COM1", "COM2", ...). On Windows the device itself; on POSIX the link
// $TXL_MACHINE_DIR/dev/COMn of the simulated notebook, which a user or a test points at a terminal
// device (one side of a pseudo-terminal, a USB serial adapter).
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace plat {

// Port numbers outside 1..kMaxSerialPort are refused before any name is formed.
inline constexpr int kMaxSerialPort = 255;

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Writes one byte; a write the port does not take at once is waited for up to timeout_ms
  // (scaled) and then abandoned. True only when the byte was written.
  virtual bool WriteByte(BYTE byte, DWORD timeout_ms) = 0;
  // Clears the port's error state and tells how many bytes wait in its input queue (0 on failure).
  virtual DWORD BytesWaiting() = 0;
  // Reads up to `size` bytes, waiting up to timeout_ms (scaled) for them; returns how many bytes
  // were actually read.
  virtual DWORD Read(BYTE* buffer, DWORD size, DWORD timeout_ms) = 0;
};

// Opens port COM<port_number> for reading and writing, not shared, at 115200 baud, 8 data bits,
// no parity, one stop bit, no flow control, raw bytes. Null (last error set) when the number is
// out of range or the port cannot be opened. A later set-up step that fails does not close the
// port: its function name ("SetCommTimeouts()", "SetCommMask()", "GetCommState()",
// "BuildCommDCB()", "SetCommState()") goes to *failed_step and the remaining steps are skipped;
// *failed_step is empty when all of them worked.
std::unique_ptr<SerialPort> OpenSerialPort(int port_number, std::u16string* failed_step);

}  // namespace plat
