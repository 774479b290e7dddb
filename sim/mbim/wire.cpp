#include "sim/mbim/wire.h"

#include <algorithm>
#include <cstdio>

#include "platform/bytes.h"

namespace sim::mbim {

namespace {

bool Fragmented(MessageType type) {
  return type == MessageType::kCommand || type == MessageType::kCommandDone || type == MessageType::kIndicateStatus;
}

bool Known(std::uint32_t type) {
  switch (static_cast<MessageType>(type)) {
    case MessageType::kOpen:
    case MessageType::kClose:
    case MessageType::kCommand:
    case MessageType::kHostError:
    case MessageType::kOpenDone:
    case MessageType::kCloseDone:
    case MessageType::kCommandDone:
    case MessageType::kFunctionError:
    case MessageType::kIndicateStatus:
      return true;
  }
  return false;
}

void AppendHeader(Bytes& out, MessageType type, std::uint32_t length, std::uint32_t tid) {
  plat::AppendU32(out, static_cast<std::uint32_t>(type));
  plat::AppendU32(out, length);
  plat::AppendU32(out, tid);
}

Bytes Simple(MessageType type, std::uint32_t tid, std::optional<std::uint32_t> value) {
  Bytes out;
  AppendHeader(out, type, static_cast<std::uint32_t>(kHeaderSize + (value ? 4 : 0)), tid);
  if (value) plat::AppendU32(out, *value);
  return out;
}

// The body of a fragmented message (what follows the fragment headers, joined), cut into
// fragments that each fit `max_transfer`.
std::vector<Bytes> Fragments(MessageType type, std::uint32_t tid, const Bytes& body, std::uint32_t max_transfer) {
  const std::size_t limit = std::clamp(max_transfer, kMinControlTransfer, kMaxControlTransfer);
  const std::size_t room = limit - kHeaderSize - kFragmentHeaderSize;
  const std::size_t count = body.empty() ? 1 : (body.size() + room - 1) / room;
  std::vector<Bytes> out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t from = i * room;
    const std::size_t size = std::min(room, body.size() - from);
    Bytes f;
    AppendHeader(f, type, static_cast<std::uint32_t>(kHeaderSize + kFragmentHeaderSize + size), tid);
    plat::AppendU32(f, static_cast<std::uint32_t>(count));
    plat::AppendU32(f, static_cast<std::uint32_t>(i));
    f.insert(f.end(), body.begin() + static_cast<std::ptrdiff_t>(from),
             body.begin() + static_cast<std::ptrdiff_t>(from + size));
    out.push_back(std::move(f));
  }
  return out;
}

Bytes CommandBody(const Uuid& service, std::uint32_t cid, std::uint32_t third, std::span<const std::uint8_t> info) {
  Bytes body(service.begin(), service.end());
  plat::AppendU32(body, cid);
  plat::AppendU32(body, third);
  plat::AppendU32(body, static_cast<std::uint32_t>(info.size()));
  body.insert(body.end(), info.begin(), info.end());
  return body;
}

// The fields of a joined body; false when it is too short or its information length disagrees
// with the bytes that carry it.
bool ReadBody(MessageType type, const Bytes& body, Message* m) {
  const std::size_t fixed = type == MessageType::kIndicateStatus ? 24 : 28;
  if (body.size() < fixed) return false;
  std::copy_n(body.begin(), 16, m->service.begin());
  plat::LeReader r(body);
  m->cid = r.U32(16);
  std::size_t at = 20;
  if (type != MessageType::kIndicateStatus) {
    m->command_type = r.U32(20);
    at = 24;
  }
  const std::uint32_t length = r.U32(at);
  if (length != body.size() - fixed) return false;
  m->information.assign(body.begin() + static_cast<std::ptrdiff_t>(fixed), body.end());
  return true;
}

}  // namespace

std::string UuidText(const Uuid& u) {
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[0], u[1],
                u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
  return text;
}

void StreamReader::Append(std::span<const std::uint8_t> bytes) { buffer_.insert(buffer_.end(), bytes.begin(), bytes.end()); }

StreamReader::Result StreamReader::Take(Bytes* message) {
  if (buffer_.size() < 8) return Result::kNeedMore;
  const std::uint32_t length = *plat::ReadU32(buffer_, 4);
  if (length < kHeaderSize || length > kMaxControlTransfer) {
    buffer_.clear();
    return Result::kMalformed;
  }
  if (buffer_.size() < length) return Result::kNeedMore;
  message->assign(buffer_.begin(), buffer_.begin() + length);
  buffer_.erase(buffer_.begin(), buffer_.begin() + length);
  return Result::kMessage;
}

Assembler::Outcome Assembler::Feed(std::span<const std::uint8_t> raw) {
  Outcome out;
  auto error = [&](ProtocolError e, std::uint32_t tid) {
    assembling_ = false;
    body_.clear();
    out.kind = Outcome::Kind::kError;
    out.error = e;
    out.transaction_id = tid;
    return out;
  };
  plat::LeReader r(raw);
  const std::uint32_t type = r.U32(0);
  const std::uint32_t length = r.U32(4);
  const std::uint32_t tid = r.U32(8);
  if (!r.ok()) return error(ProtocolError::kLengthMismatch, tid);
  if (length != raw.size()) return error(ProtocolError::kLengthMismatch, tid);
  if (!Known(type)) return error(ProtocolError::kUnknown, tid);
  const auto kind = static_cast<MessageType>(type);

  if (!Fragmented(kind)) {
    // A whole message in between abandons a half-joined one.
    assembling_ = false;
    body_.clear();
    const bool valued = kind != MessageType::kClose;
    if (raw.size() != kHeaderSize + (valued ? 4 : 0)) return error(ProtocolError::kLengthMismatch, tid);
    out.kind = Outcome::Kind::kMessage;
    out.message.type = kind;
    out.message.transaction_id = tid;
    if (valued) out.message.value = r.U32(12);
    return out;
  }

  const std::uint32_t total = r.U32(12);
  const std::uint32_t current = r.U32(16);
  if (!r.ok()) return error(ProtocolError::kLengthMismatch, tid);
  if (total == 0 || current >= total) return error(ProtocolError::kFragmentOutOfSequence, tid);
  if (current == 0) {
    assembling_ = true;
    tid_ = tid;
    total_ = total;
    next_ = 0;
    body_.clear();
  } else if (!assembling_ || tid != tid_ || total != total_ || current != next_) {
    return error(ProtocolError::kFragmentOutOfSequence, tid);
  }
  if (body_.size() + (raw.size() - kHeaderSize - kFragmentHeaderSize) > kMaxJoinedBody)
    return error(ProtocolError::kMaxTransfer, tid);
  body_.insert(body_.end(), raw.begin() + kHeaderSize + kFragmentHeaderSize, raw.end());
  if (++next_ < total_) return out;  // kNeedMore

  Message m;
  m.type = kind;
  m.transaction_id = tid;
  const bool read = ReadBody(kind, body_, &m);
  assembling_ = false;
  body_.clear();
  if (!read) return error(ProtocolError::kLengthMismatch, tid);
  out.kind = Outcome::Kind::kMessage;
  out.message = std::move(m);
  return out;
}

Bytes EncodeOpenDone(std::uint32_t tid, Status status) {
  return Simple(MessageType::kOpenDone, tid, static_cast<std::uint32_t>(status));
}
Bytes EncodeCloseDone(std::uint32_t tid, Status status) {
  return Simple(MessageType::kCloseDone, tid, static_cast<std::uint32_t>(status));
}
Bytes EncodeFunctionError(std::uint32_t tid, ProtocolError error) {
  return Simple(MessageType::kFunctionError, tid, static_cast<std::uint32_t>(error));
}
Bytes EncodeOpen(std::uint32_t tid, std::uint32_t max_transfer) { return Simple(MessageType::kOpen, tid, max_transfer); }
Bytes EncodeClose(std::uint32_t tid) { return Simple(MessageType::kClose, tid, std::nullopt); }

std::vector<Bytes> EncodeCommandDone(std::uint32_t tid, const Uuid& service, std::uint32_t cid, Status status,
                                     std::span<const std::uint8_t> information, std::uint32_t max_transfer) {
  return Fragments(MessageType::kCommandDone, tid,
                   CommandBody(service, cid, static_cast<std::uint32_t>(status), information), max_transfer);
}

std::vector<Bytes> EncodeCommand(std::uint32_t tid, const Uuid& service, std::uint32_t cid, CommandType type,
                                 std::span<const std::uint8_t> information, std::uint32_t max_transfer) {
  return Fragments(MessageType::kCommand, tid, CommandBody(service, cid, static_cast<std::uint32_t>(type), information),
                   max_transfer);
}

}  // namespace sim::mbim
