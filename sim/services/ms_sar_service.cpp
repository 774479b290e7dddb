#include "sim/services/ms_sar_service.h"

#include "sim/runtime.h"
#include "sim/services/byte_io.h"
#include "sim/services/reply.h"
#include "sim/services/status.h"

namespace sim::services {

namespace {

constexpr std::size_t kSetSize = 28;
constexpr std::size_t kAnswerHead = 16;
constexpr std::size_t kPairSize = 8;
constexpr std::size_t kStateSize = 8;

MsSarState Decode(const Bytes& b) {
  return MsSarState{GetU32(b, 0),  GetU32(b, 4),  GetU32(b, 8), GetU32(b, 12),
                    GetU32(b, 16), GetU32(b, 20), GetU32(b, 24)};
}

bool AnswerFits(std::uint32_t element_count) {
  return kAnswerHead + kPairSize * std::uint64_t{element_count} + kStateSize <= kMaxCommandSize;
}

Bytes AnswerBytes(const MsSarState& s) {
  Bytes out;
  AppendU32(out, s.mode);
  AppendU32(out, s.backoff_status);
  AppendU32(out, 0);  // no Wi-Fi integration on this modem
  AppendU32(out, s.element_count);
  const auto state_at = static_cast<std::uint32_t>(kAnswerHead + kPairSize * s.element_count);
  for (std::uint32_t i = 0; i < s.element_count; ++i) {
    AppendU32(out, state_at);
    AppendU32(out, kStateSize);
  }
  AppendU32(out, s.antenna_index);
  AppendU32(out, s.backoff_index);
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
