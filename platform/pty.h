// A pseudo-terminal whose far end a program opens by path as it would a modem's control device:
// the simulated notebook's MBIM device node. A device node like that exists on Linux only; on
// Windows OpenPseudoTerminal fails with ERROR_NOT_SUPPORTED.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/types.h"

namespace plat {

class PseudoTerminal {
 public:
  virtual ~PseudoTerminal() = default;

  // The far end's path (for example /dev/pts/3).
  virtual const std::string& path() const = 0;

  enum class Wait {
    kData,           // bytes from the far end can be read
    kNoHost,         // no program holds the far end open (the last one closed it or vanished)
    kInputClosed,    // this program's standard input reached its end
    kStopRequested,  // the program was asked to end (SIGTERM, SIGINT)
    kTimeout,
    kFailed,
  };
  // Waits at most `timeout_ms` (scaled by TXL_TIME_SCALE) for one of the above, in that order of
  // precedence after a stop request.
  virtual Wait WaitForInput(DWORD timeout_ms) = 0;
  // What the far end wrote, at most `size` bytes; 0 when nothing is there, -1 on failure.
  virtual long Read(std::uint8_t* buffer, std::size_t size) = 0;
  // Writes every byte, or fails.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

// A new pseudo-terminal in raw mode (no echo, no line editing, every byte as it is). While it lives,
// SIGTERM and SIGINT are stop requests its waits report instead of ending the program.
std::unique_ptr<PseudoTerminal> OpenPseudoTerminal();

// A symbolic link at `link` to `target`, replacing a link already there (not a file); false with
// the last error otherwise.
bool MakeSymbolicLink(const std::string& link, const std::string& target);
// Removes the link at `link` when it is one and points at `target`.
void RemoveSymbolicLink(const std::string& link, const std::string& target);

}  // namespace plat
