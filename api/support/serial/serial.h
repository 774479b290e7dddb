// AT text over a serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "api/support/global_tools.h"
#include "platform/serial.h"

namespace IGlobalTools {

// Results are S_OK or E_FAIL unless stated.
struct IDeviceMsg {
  virtual ~IDeviceMsg() = default;
  // Opens COM<port>; succeeds at once when a port is open already.
  virtual plat::HRESULT OpenPort(int port) = 0;
  // Writes a command of at least two bytes, waits 200 ms and reads the reply (at least two bytes,
  // at most 1024), which replaces *reply.
  virtual plat::HRESULT Transact(const std::uint8_t* data, std::size_t length, std::string* reply) = 0;
  virtual plat::HRESULT Send(const std::uint8_t* data, std::size_t length) = 0;
  // Reads what waits on the port (at least two bytes, at most 2048) into *reply.
  virtual plat::HRESULT Receive(std::string* reply) = 0;
  // Always true.
  virtual bool ClosePort() = 0;
  virtual void Release() = 0;
};

class CSerial final : public IDeviceMsg {
 public:
  static constexpr plat::DWORD kWriteWaitMs = 1000;
  static constexpr plat::DWORD kTransactPauseMs = 200;
  static constexpr plat::DWORD kReadWaitMs = 2000;
  static constexpr std::size_t kTransactBuffer = 1024;
  static constexpr std::size_t kReceiveBuffer = 2048;

  CSerial() = default;
  ~CSerial() override;
  CSerial(const CSerial&) = delete;
  CSerial& operator=(const CSerial&) = delete;

  plat::HRESULT OpenPort(int port) override;
  plat::HRESULT Transact(const std::uint8_t* data, std::size_t length, std::string* reply) override;
  plat::HRESULT Send(const std::uint8_t* data, std::size_t length) override;
  plat::HRESULT Receive(std::string* reply) override;
  bool ClosePort() override;
  void Release() override;

 private:
  // Hands the bytes over one at a time and stops at the first the port does not take; returns
  // how many it took.
  std::size_t WriteBytes(const std::uint8_t* data, std::size_t length);
  // What waits on the port, at most `limit` bytes.
  std::string ReadWaiting(std::size_t limit);

  int open_ = 0;
  std::unique_ptr<plat::SerialPort> port_;
};

}  // namespace IGlobalTools
