#include "sim/mbim/endpoint.h"

#include "platform/bytes.h"

namespace sim::mbim {

std::vector<Bytes> Endpoint::Receive(std::span<const std::uint8_t> bytes) {
  std::vector<Bytes> out;
  reader_.Append(bytes);
  for (;;) {
    Bytes raw;
    const StreamReader::Result r = reader_.Take(&raw);
    if (r == StreamReader::Result::kNeedMore) break;
    if (r == StreamReader::Result::kMalformed) {
      // The reader dropped what it held; the host's next write starts a message again.
      out.push_back(EncodeFunctionError(0, ProtocolError::kLengthMismatch));
      continue;
    }
    const Assembler::Outcome o = assembler_.Feed(raw);
    if (o.kind == Assembler::Outcome::Kind::kError)
      out.push_back(EncodeFunctionError(o.transaction_id, o.error));
    else if (o.kind == Assembler::Outcome::Kind::kMessage)
      Handle(o.message, out);
  }
  return out;
}

void Endpoint::Disconnected() {
  if (opened_) device_.HostGone();
  opened_ = false;
  reader_ = StreamReader();
  assembler_ = Assembler();
}

void Endpoint::Handle(const Message& m, std::vector<Bytes>& out) {
  switch (m.type) {
    case MessageType::kOpen:
      if (m.value < kMinControlTransfer) {
        out.push_back(EncodeOpenDone(m.transaction_id, Status::kInvalidParameters));
        return;
      }
      // An OPEN over an open channel is a new host after one that vanished without closing.
      if (opened_) device_.HostGone();
      opened_ = true;
      max_transfer_ = m.value < kMaxControlTransfer ? m.value : kMaxControlTransfer;
      out.push_back(EncodeOpenDone(m.transaction_id, Status::kSuccess));
      return;
    case MessageType::kClose:
      if (opened_) device_.HostGone();
      opened_ = false;
      out.push_back(EncodeCloseDone(m.transaction_id, Status::kSuccess));
      return;
    case MessageType::kCommand: {
      if (!opened_) {
        out.push_back(EncodeFunctionError(m.transaction_id, ProtocolError::kNotOpened));
        return;
      }
      CommandReply reply;
      if (m.command_type == static_cast<std::uint32_t>(CommandType::kQuery) ||
          m.command_type == static_cast<std::uint32_t>(CommandType::kSet))
        reply = device_.Command(m.service, m.cid, static_cast<CommandType>(m.command_type), m.information);
      else
        reply.status = Status::kInvalidParameters;  // neither a query nor a set
      if (reply.silent) return;
      for (Bytes& f : EncodeCommandDone(m.transaction_id, m.service, m.cid, reply.status, reply.information, max_transfer_))
        out.push_back(std::move(f));
      return;
    }
    case MessageType::kHostError:
      return;  // the host gives up a transaction; nothing is pending here to cancel
    default:
      // A device's message sent to the device.
      out.push_back(EncodeFunctionError(m.transaction_id, ProtocolError::kUnknown));
      return;
  }
}

}  // namespace sim::mbim
