// The control library's readers of modem replies, fed replies from the input: the switch replies
// of both roads (the bridge's reply text through a stand-in entry point, the direct road's text
// through the simulated modem's AT command service), the IMEI reply, the band-5 read-back, and
// the read-back of the power tables on both roads (on the bridge road the record the bridge hands
// back, filled from the input).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/switches/switches.h"
#include "api/values/band5.h"
#include "bridge/messages/records.h"
#include "sim/testing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// What the stand-in entry point answers to one call.
struct BridgeAnswer {
  int result = 0;
  std::u16string text;
  std::vector<std::uint8_t> record;  // copied into the caller's record, as far as the family's goes
};

std::deque<BridgeAnswer> g_answers;

int Answer(std::size_t record_size, char16_t* out, int* length, void* table) {
  BridgeAnswer a;
  if (!g_answers.empty()) {
    a = std::move(g_answers.front());
    g_answers.pop_front();
  }
  // As the bridge does: every unit of the 4096 written, the reply terminated within them.
  std::fill_n(out, 4096, u'\0');
  const std::size_t n = std::min<std::size_t>(a.text.size(), 4095);
  std::copy_n(a.text.begin(), n, out);
  *length = static_cast<int>(n);
  if (table) std::copy_n(a.record.begin(), std::min(a.record.size(), record_size), static_cast<std::uint8_t*>(table));
  return a.result;
}

int OspreyStandIn(const char16_t*, char16_t* out, int* length, void* table) {
  return Answer(vexel::MaxTxPwrRecord::kSize, out, length, table);
}
int KestrelStandIn(const char16_t*, char16_t* out, int* length, void* table) {
  return Answer(vexel::ProfilePowerImage::kSize, out, length, table);
}

std::u16string Widen(const std::string& bytes) {
  std::u16string out;
  for (char c : bytes) out += static_cast<char16_t>(static_cast<std::uint8_t>(c));
  return out;
}

enum class Op { kParse, kGetters, kImei, kBand5, kReadBack, kClear, kCount };

std::filesystem::path g_osprey, g_kestrel;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The modem's own IMEI is no IMEI here, so that get_ImeiInfo asks the modem.
  g_osprey = txlfuzz::MakeNotebook("osprey", "[module]\nfamily=osprey\nimei=none\n");
  g_kestrel = txlfuzz::MakeNotebook("kestrel", "[module]\nfamily=kestrel\nimei=none\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const Op op = static_cast<Op>(data.ConsumeIntegralInRange<int>(0, static_cast<int>(Op::kCount) - 1));
  const bool kestrel = data.ConsumeBool();

  if (op == Op::kParse) {
    const std::string reply = data.ConsumeRemainingBytesAsString();
    (void)krill::ParseSwitchReply(reply);
    (void)krill::LeadingNumber(reply);
    return 0;
  }

  // The first answer is the probe's: 0 takes the bridge road, 50 the direct one.
  g_answers.clear();
  g_answers.push_back({data.ConsumeBool() ? 0 : 50, u"OK", {}});
  std::deque<sim::ServiceReply> direct;
  const int count = data.ConsumeIntegralInRange<int>(1, 8);
  for (int i = 0; i < count; ++i) {
    BridgeAnswer a;
    a.result = data.ConsumeBool() ? 0 : data.ConsumeIntegral<int>();
    a.text = Widen(data.ConsumeRandomLengthString(64));
    a.record = data.ConsumeBytes<std::uint8_t>(data.ConsumeIntegralInRange<std::size_t>(0, 1454));
    g_answers.push_back(std::move(a));
    direct.push_back(txlfuzz::ConsumeReply(data, 4200));
  }

  const auto& dir = kestrel ? g_kestrel : g_osprey;
  txlfuzz::ResetNotebook(dir);
  txlfuzz::UseNotebook(dir);
  txlfuzz::ResetIdentification(OspreyStandIn, KestrelStandIn);
  krill::ntype = kestrel ? krill::kTypeKestrel : krill::kTypeOsprey;
  sim::testing::SetServiceModel(sim::ServiceKind::kAtCommand, std::make_shared<txlfuzz::QueuedReplies>(std::move(direct)));

  switch (op) {
    case Op::kGetters: {
      int value = -7;
      unsigned int profile = 7;
      get_BodySarEnable(&value);
      get_BodySarON(&value);
      get_BodySarMode(&value);
      get_BodySarProfile(&profile);
      break;
    }
    case Op::kImei: {
      // The contract's buffer: the IMEI and its terminating zero.
      std::vector<char> imei(16);
      get_ImeiInfo(imei.data());
      break;
    }
    case Op::kBand5:
      krill::g_bBand5OneTime = data.ConsumeBool();
      (void)krill::ATGTBAND5WAPlanB();
      break;
    case Op::kReadBack: {
      std::vector<char> text(kBodySarValueTextBytes);
      get_BodySarValue(text.data());
      break;
    }
    case Op::kClear:
      set_BodySarClear();
      break;
    default:
      break;
  }
  sim::testing::ResetAll();
  return 0;
}
