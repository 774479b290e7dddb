#include "api/support/serial/serial.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/sync.h"
#include "platform/text.h"

namespace IGlobalTools {

namespace {

// A reply of one byte is noise on the line, not an answer.
constexpr std::size_t kShortestReply = 2;

}  // namespace

CSerial::~CSerial() { ClosePort(); }

plat::HRESULT CSerial::OpenPort(int port) {
  if (open_) return plat::S_OK;
  std::u16string failed_step;
  port_ = plat::OpenSerialPort(port, &failed_step);
  if (!port_) return plat::E_FAIL;
  // The port is usable with its previous line settings; the failure is only shown.
  if (!failed_step.empty()) {
    std::fputs(plat::ToAnsi(failed_step).c_str(), stdout);
    std::fflush(stdout);
  }
  open_ = 1;
  return plat::S_OK;
}

std::size_t CSerial::WriteBytes(const std::uint8_t* data, std::size_t length) {
  std::size_t written = 0;
  // A byte the port refused would leave a gap in the command: what follows it is not sent.
  while (written < length && port_->WriteByte(data[written], kWriteWaitMs)) ++written;
  return written;
}

std::string CSerial::ReadWaiting(std::size_t limit) {
  const std::size_t waiting = port_->BytesWaiting();
  if (waiting == 0) return {};
  std::vector<std::uint8_t> buffer(std::min(waiting, limit));
  const plat::DWORD read = port_->Read(buffer.data(), static_cast<plat::DWORD>(buffer.size()), kReadWaitMs);
  return std::string(reinterpret_cast<const char*>(buffer.data()), read);
}

plat::HRESULT CSerial::Transact(const std::uint8_t* data, std::size_t length, std::string* reply) {
  // A one-byte command is refused before it is sent: its answer would stay on the line for the
  // next transaction to read as its own.
  if (!open_ || !data || length < 2 || !reply) return plat::E_FAIL;
  if (WriteBytes(data, length) != length) return plat::E_FAIL;
  plat::SleepMs(kTransactPauseMs);
  std::string got = ReadWaiting(kTransactBuffer);
  if (got.size() < kShortestReply) return plat::E_FAIL;
  *reply = std::move(got);
  return plat::S_OK;
}

plat::HRESULT CSerial::Send(const std::uint8_t* data, std::size_t length) {
  if (!open_ || (!data && length > 0)) return plat::E_FAIL;
  return WriteBytes(data, length) == length ? plat::S_OK : plat::E_FAIL;
}

plat::HRESULT CSerial::Receive(std::string* reply) {
  if (!open_ || !reply) return plat::E_FAIL;
  std::string got = ReadWaiting(kReceiveBuffer);
  if (got.size() < kShortestReply) return plat::E_FAIL;
  *reply = std::move(got);
  return plat::S_OK;
}

bool CSerial::ClosePort() {
  if (open_) {
    port_.reset();
    open_ = 0;
  }
  return true;
}

void CSerial::Release() { delete this; }

}  // namespace IGlobalTools
