#include "tool/txlctl_sar.h"

#include <algorithm>
#include <vector>

#include "platform/bytes.h"

namespace txlctl {

namespace {

constexpr std::size_t kAnswerHead = 16;
constexpr std::size_t kSetHead = 12;
constexpr std::size_t kPairSize = 8;
constexpr std::size_t kStateSize = 8;
constexpr std::size_t kTransmissionAnswerSize = 12;

std::optional<bool> Flag(std::uint32_t value, const char* field, std::string* why) {
  if (value <= 1) return value == 1;
  *why = std::string(field) + " is " + std::to_string(value) + ", neither 0 nor 1";
  return std::nullopt;
}

void AppendStates(Bytes& out, std::size_t head, const std::vector<SarState>& states) {
  const auto count = static_cast<std::uint32_t>(states.size());
  plat::AppendU32(out, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    plat::AppendU32(out, static_cast<std::uint32_t>(head + kPairSize * count + kStateSize * i));
    plat::AppendU32(out, kStateSize);
  }
  for (const SarState& s : states) {
    plat::AppendU32(out, s.antenna);
    plat::AppendU32(out, s.backoff_index);
  }
}

}  // namespace

std::optional<SarConfig> DecodeSarConfig(const Bytes& answer, std::string* why) {
  if (answer.size() < kAnswerHead) {
    *why = "the answer is " + std::to_string(answer.size()) + " bytes, shorter than its 16-byte head";
    return std::nullopt;
  }
  plat::LeReader in(answer);
  const auto host = Flag(in.U32(0), "the SAR mode", why);
  const auto backoff = host ? Flag(in.U32(4), "the back-off status", why) : std::nullopt;
  const auto wifi = backoff ? Flag(in.U32(8), "the Wi-Fi integration", why) : std::nullopt;
  if (!wifi) return std::nullopt;
  SarConfig config{*host, *backoff, !*wifi, {}};
  const std::uint64_t count = in.U32(12);
  if (kAnswerHead + kPairSize * count > answer.size()) {
    *why = "its " + std::to_string(count) + " states do not fit the " + std::to_string(answer.size()) + "-byte answer";
    return std::nullopt;
  }
  // Each state is its own structure in the answer's data: a modem may make one longer than its two
  // fields (a later revision's additions), but two pairs that share bytes are not two states.
  struct Span {
    std::uint64_t begin, end;
    std::size_t state;
  };
  std::vector<Span> spans;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t offset = in.U32(kAnswerHead + kPairSize * i);
    const std::uint64_t size = in.U32(kAnswerHead + kPairSize * i + 4);
    if (size < kStateSize || offset < kAnswerHead + kPairSize * count || offset + size > answer.size()) {
      *why = "state " + std::to_string(i) + " (offset " + std::to_string(offset) + ", size " + std::to_string(size) +
             ") lies outside the " + std::to_string(answer.size()) + "-byte answer";
      return std::nullopt;
    }
    spans.push_back({offset, offset + size, i});
    config.states.push_back({in.U32(offset), in.U32(offset + 4)});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) {
      const std::size_t first = std::min(spans[i - 1].state, spans[i].state);
      const std::size_t second = std::max(spans[i - 1].state, spans[i].state);
      *why = "states " + std::to_string(first) + " and " + std::to_string(second) + " share bytes of the answer";
      return std::nullopt;
    }
  }
  return config;
}

Bytes EncodeSarConfigSet(const SarConfig& config) {
  Bytes out;
  plat::AppendU32(out, config.host ? 1 : 0);
  plat::AppendU32(out, config.backoff ? 1 : 0);
  AppendStates(out, kSetHead, config.states);
  return out;
}

std::optional<TransmissionStatus> DecodeTransmissionStatus(const Bytes& answer, std::string* why) {
  if (answer.size() < kTransmissionAnswerSize) {
    *why = "the answer is " + std::to_string(answer.size()) + " bytes, shorter than its 12 bytes";
    return std::nullopt;
  }
  plat::LeReader in(answer);
  const auto notification = Flag(in.U32(0), "the channel notification", why);
  const auto active = notification ? Flag(in.U32(4), "the transmission status", why) : std::nullopt;
  if (!active) return std::nullopt;
  return TransmissionStatus{*notification, *active, in.U32(8)};
}

Bytes EncodeTransmissionSet(bool notification, std::uint32_t hysteresis_s) {
  Bytes out;
  plat::AppendU32(out, notification ? 1 : 0);
  plat::AppendU32(out, hysteresis_s);
  return out;
}

bool SarHeld(const SarConfig& wanted, const SarConfig& held) {
  if (wanted.host != held.host || wanted.backoff != held.backoff) return false;
  return std::all_of(wanted.states.begin(), wanted.states.end(), [&](const SarState& w) {
    return std::any_of(held.states.begin(), held.states.end(), [&](const SarState& h) {
      return h.antenna == w.antenna && h.backoff_index == w.backoff_index;
    });
  });
}

std::string SarStatesText(const std::vector<SarState>& states) {
  std::string out;
  for (const SarState& s : states)
    out += "  antenna " + std::to_string(s.antenna) + ": back-off index " + std::to_string(s.backoff_index) + "\n";
  return out;
}

std::string SarStatesJson(const std::vector<SarState>& states) {
  std::string out = "[";
  for (const SarState& s : states) {
    out += std::string(out.size() > 1 ? "," : "") + "{\"antenna\":" + std::to_string(s.antenna) +
           ",\"backoff_index\":" + std::to_string(s.backoff_index) + "}";
  }
  return out + "]";
}

}  // namespace txlctl
