// The device side of an MBIM control channel: what a host writes goes in, the messages to write
// back come out. OPEN, CLOSE and commands follow the protocol's rules; the commands themselves are
// answered by the modem behind the channel.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/mbim/wire.h"

namespace sim::mbim {

// What the modem answers to one command.
struct CommandReply {
  Status status = Status::kSuccess;
  Bytes information;
  // The modem never completed the command: the host hears nothing and times out, as with a modem
  // that drops a request.
  bool silent = false;
};

// The modem behind the channel.
class Device {
 public:
  virtual ~Device() = default;
  virtual CommandReply Command(const Uuid& service, std::uint32_t cid, CommandType type, const Bytes& information) = 0;
  // The host closed the channel, or a new host opened it over an old one that vanished: what the
  // modem keeps for a host (its sessions) ends.
  virtual void HostGone() {}
};

class Endpoint {
 public:
  explicit Endpoint(Device& device) : device_(device) {}

  // Bytes as the host wrote them, in any pieces; the messages to write back, in order, each no
  // longer than the control transfer the host asked for.
  std::vector<Bytes> Receive(std::span<const std::uint8_t> bytes);
  // The host's end went away without a CLOSE: the next host starts from a closed channel.
  void Disconnected();
  bool opened() const { return opened_; }
  std::uint32_t max_transfer() const { return max_transfer_; }

 private:
  void Handle(const Message& m, std::vector<Bytes>& out);

  Device& device_;
  StreamReader reader_;
  Assembler assembler_;
  bool opened_ = false;
  std::uint32_t max_transfer_ = kMaxControlTransfer;
};

}  // namespace sim::mbim
