#include "sim/services/ms_sar_service.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "platform/bytes.h"
#include "platform/sync.h"
#include "sim/services/reply.h"
#include "sim/services/status.h"

namespace sim::services {

namespace {

constexpr std::size_t kSetHead = 12;
constexpr std::size_t kAnswerHead = 16;
constexpr std::size_t kPairSize = 8;
constexpr std::size_t kStateSize = 8;
constexpr std::uint32_t kNoWifiIntegration = 1;
constexpr std::size_t kTransmissionSetSize = 8;
constexpr std::uint32_t kMaxHysteresisS = 5;

// Transmission settings as a set carries them, or nullopt when they are out of range.
std::optional<TransmissionSettings> DecodeTransmission(const Bytes& b) {
  if (b.size() != kTransmissionSetSize) return std::nullopt;
  plat::LeReader in(b);
  const TransmissionSettings s{in.U32(0), in.U32(4)};
  if (s.notification > 1 || s.hysteresis_s < 1 || s.hysteresis_s > kMaxHysteresisS) return std::nullopt;
  return s;
}

Bytes AnswerBytes(const MsSarState& s) {
  Bytes out;
  plat::AppendU32(out, s.mode);
  plat::AppendU32(out, s.backoff_status);
  plat::AppendU32(out, kNoWifiIntegration);
  const auto count = static_cast<std::uint32_t>(s.states.size());
  plat::AppendU32(out, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    plat::AppendU32(out, static_cast<std::uint32_t>(kAnswerHead + kPairSize * count + kStateSize * i));
    plat::AppendU32(out, kStateSize);
  }
  for (const AntennaState& a : s.states) {
    plat::AppendU32(out, a.antenna_index);
    plat::AppendU32(out, a.backoff_index);
  }
  return out;
}

enum class Stored { kRead, kInaccessible, kDamaged };

// The stored configuration: kDamaged when the file is not a configuration the modem could have
// stored, kInaccessible when the notebook's modem memory cannot be reached at all.
Stored ReadStored(const StateFile& file, MsSarState* state) {
  Bytes stored;
  switch (file.Read(&stored)) {
    case StateRead::kAbsent:
      *state = MsSarState{};
      return Stored::kRead;
    case StateRead::kRead:
      // A file cut short or grown by hand is a modem whose memory cannot be trusted.
      if (auto s = DecodeMsSarSet(stored); s && s->states.size() <= kMaxAntennaStates) {
        *state = std::move(*s);
        return Stored::kRead;
      }
      return Stored::kDamaged;
    case StateRead::kFailed:
      break;
  }
  return Stored::kInaccessible;
}

}  // namespace

std::optional<MsSarState> DecodeMsSarSet(const Bytes& request) {
  if (request.size() < kSetHead) return std::nullopt;
  plat::LeReader in(request);
  MsSarState s;
  s.mode = in.U32(0);
  s.backoff_status = in.U32(4);
  const std::uint64_t count = in.U32(8);
  if (request.size() != kSetHead + (kPairSize + kStateSize) * count) return std::nullopt;
  const std::size_t states_at = kSetHead + kPairSize * static_cast<std::size_t>(count);
  s.states.clear();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t offset = in.U32(kSetHead + kPairSize * i);
    const std::uint32_t size = in.U32(kSetHead + kPairSize * i + 4);
    if (size != kStateSize || offset < states_at || offset % 4 != 0 || offset > request.size() - kStateSize)
      return std::nullopt;
    const AntennaState a{in.U32(offset), in.U32(offset + 4)};
    if (std::any_of(s.states.begin(), s.states.end(),
                    [&](const AntennaState& b) { return b.antenna_index == a.antenna_index; }))
      return std::nullopt;
    s.states.push_back(a);
  }
  return s;
}

Bytes EncodeMsSarSet(const MsSarState& state) {
  Bytes out;
  plat::AppendU32(out, state.mode);
  plat::AppendU32(out, state.backoff_status);
  const auto count = static_cast<std::uint32_t>(state.states.size());
  plat::AppendU32(out, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    plat::AppendU32(out, static_cast<std::uint32_t>(kSetHead + kPairSize * count + kStateSize * i));
    plat::AppendU32(out, kStateSize);
  }
  for (const AntennaState& a : state.states) {
    plat::AppendU32(out, a.antenna_index);
    plat::AppendU32(out, a.backoff_index);
  }
  return out;
}

MsSarService::MsSarService(const std::filesystem::path& machine_dir)
    : modem_dir_(machine_dir / "modem"), state_(modem_dir_, "ms_sar"), transmission_(modem_dir_, "ms_sar_tx") {}

ServiceReply MsSarService::Query(std::uint32_t cid, const std::vector<std::uint8_t>&) {
  if (cid == kMsSarTransmissionCid) {
    Bytes stored;
    switch (transmission_.Read(&stored)) {
      case StateRead::kAbsent:
        return TransmissionAnswer(TransmissionSettings{});
      case StateRead::kRead:
        if (const auto s = DecodeTransmission(stored)) return TransmissionAnswer(*s);
        return Fail(kReadFault);
      case StateRead::kFailed:
        break;
    }
    return Fail(kReadFault);
  }
  if (cid != kMsSarCid) return Fail(kUnknownCommand);
  MsSarState held;
  if (ReadStored(state_, &held) == Stored::kRead) return Answer(AnswerBytes(held));
  return Fail(kReadFault);
}

ServiceReply MsSarService::Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) {
  if (cid == kMsSarCid) return SetConfiguration(data);
  if (cid == kMsSarTransmissionCid) return SetTransmission(data);
  return Fail(kUnknownCommand);
}

ServiceReply MsSarService::SetConfiguration(const Bytes& data) {
  const auto request = DecodeMsSarSet(data);
  if (!request) return Fail(kBadRequest);
  MsSarState held;
  switch (ReadStored(state_, &held)) {
    case Stored::kRead: break;
    case Stored::kDamaged: return Fail(kReadFault);
    // Memory that cannot be reached cannot take the write either.
    case Stored::kInaccessible: return Fail(kWriteFault);
  }
  held.mode = request->mode;
  held.backoff_status = request->backoff_status;
  for (const AntennaState& a : request->states) {
    const auto same = std::find_if(held.states.begin(), held.states.end(),
                                   [&](const AntennaState& b) { return b.antenna_index == a.antenna_index; });
    if (same != held.states.end()) same->backoff_index = a.backoff_index;
    else held.states.push_back(a);
  }
  if (held.states.size() > kMaxAntennaStates) return Fail(kBadRequest);
  std::sort(held.states.begin(), held.states.end(),
            [](const AntennaState& x, const AntennaState& y) { return x.antenna_index < y.antenna_index; });
  if (!state_.Write(EncodeMsSarSet(held))) return Fail(kWriteFault);
  return Answer(AnswerBytes(held));
}

ServiceReply MsSarService::SetTransmission(const Bytes& data) {
  const auto s = DecodeTransmission(data);
  if (!s) return Fail(kBadRequest);
  if (!transmission_.Write(data)) return Fail(kWriteFault);
  return TransmissionAnswer(*s);
}

ServiceReply MsSarService::TransmissionAnswer(const TransmissionSettings& s) const {
  Bytes out;
  plat::AppendU32(out, s.notification);
  plat::AppendU32(out, Transmitting(s.hysteresis_s) ? 1 : 0);
  plat::AppendU32(out, s.hysteresis_s);
  return Answer(out);
}

// Written to within the last hysteresis_s seconds: judged by the times the NVM items and the SAR
// configuration were last replaced, which every process of the notebook shares.
bool MsSarService::Transmitting(std::uint32_t hysteresis_s) const {
  using Clock = std::filesystem::file_time_type::clock;
  std::error_code ec;
  std::filesystem::file_time_type last = std::filesystem::file_time_type::min();
  const auto consider = [&](const std::filesystem::path& p) {
    std::error_code e;
    const auto t = std::filesystem::last_write_time(p, e);
    if (!e && t > last) last = t;
  };
  consider(modem_dir_ / "ms_sar.bin");
  for (std::filesystem::directory_iterator it(modem_dir_ / "nvm", ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".bin") consider(it->path());
  if (last == std::filesystem::file_time_type::min()) return false;
  const auto window = std::chrono::milliseconds(plat::ScaleMs(hysteresis_s * 1000));
  return Clock::now() - last < window;
}

}  // namespace sim::services
