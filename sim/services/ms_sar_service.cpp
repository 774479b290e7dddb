#include "sim/services/ms_sar_service.h"

#include "platform/bytes.h"
#include "sim/runtime.h"
#include "sim/services/reply.h"
#include "sim/services/status.h"

namespace sim::services {

namespace {

constexpr std::size_t kSetSize = 28;
constexpr std::size_t kAnswerHead = 16;
constexpr std::size_t kPairSize = 8;
constexpr std::size_t kStateSize = 8;

MsSarState Decode(const Bytes& b) {
  plat::LeReader in(b);
  return MsSarState{in.U32(0), in.U32(4), in.U32(8), in.U32(12), in.U32(16), in.U32(20), in.U32(24)};
}

bool AnswerFits(std::uint32_t element_count) {
  return kAnswerHead + kPairSize * std::uint64_t{element_count} + kStateSize <= kMaxCommandSize;
}

Bytes AnswerBytes(const MsSarState& s) {
  Bytes out;
  plat::AppendU32(out, s.mode);
  plat::AppendU32(out, s.backoff_status);
  plat::AppendU32(out, 0);  // no Wi-Fi integration on this modem
  plat::AppendU32(out, s.element_count);
  const auto state_at = static_cast<std::uint32_t>(kAnswerHead + kPairSize * s.element_count);
  for (std::uint32_t i = 0; i < s.element_count; ++i) {
    plat::AppendU32(out, state_at);
    plat::AppendU32(out, kStateSize);
  }
  plat::AppendU32(out, s.antenna_index);
  plat::AppendU32(out, s.backoff_index);
  return out;
}

}  // namespace

MsSarService::MsSarService(const std::filesystem::path& machine_dir) : state_(machine_dir / "modem", "ms_sar") {}

ServiceReply MsSarService::Query(std::uint32_t cid, const std::vector<std::uint8_t>&) {
  if (cid != kMsSarCid) return Fail(kUnknownCommand);
  Bytes stored;
  switch (state_.Read(&stored)) {
    case StateRead::kAbsent:
      return Answer(AnswerBytes(MsSarState{}));
    case StateRead::kRead:
      // A file cut short or grown by hand is a modem whose memory cannot be trusted.
      if (stored.size() != kSetSize) return Fail(kReadFault);
      if (const MsSarState s = Decode(stored); AnswerFits(s.element_count)) return Answer(AnswerBytes(s));
      return Fail(kReadFault);
    case StateRead::kFailed:
      break;
  }
  return Fail(kReadFault);
}

ServiceReply MsSarService::Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) {
  if (cid != kMsSarCid) return Fail(kUnknownCommand);
  if (data.size() != kSetSize) return Fail(kBadRequest);
  const MsSarState s = Decode(data);
  if (!AnswerFits(s.element_count)) return Fail(kBadRequest);
  if (!state_.Write(data)) return Fail(kWriteFault);
  return Answer(AnswerBytes(s));
}

}  // namespace sim::services
