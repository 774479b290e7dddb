// The bridge's readers of what the modem answers: the NVM read response (item id, size, data) and
// the MS SAR configuration response, fed payloads from the input through the simulated modem's
// device services, both on their own and under the commands that use them (flag queries, power
// table queries and sets of both families).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "bridge/front_door/at_interface.h"
#include "bridge/log/bridge_log.h"
#include "bridge/mbn/interface_selection.h"
#include "bridge/messages/nvm_messages.h"
#include "bridge/messages/records.h"
#include "bridge/messages/switches.h"
#include "sim/testing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::deque<sim::ServiceReply> Replies(FuzzedDataProvider& data) {
  std::deque<sim::ServiceReply> replies;
  const int count = data.ConsumeIntegralInRange<int>(1, 3);
  for (int i = 0; i < count; ++i) replies.push_back(txlfuzz::ConsumeReply(data, 4200));
  return replies;
}

// A caller's record of exactly the size it announces, so that a copy past it is seen.
void ReadNvm(FuzzedDataProvider& data) {
  const std::uint32_t capacity = data.ConsumeIntegralInRange<std::uint32_t>(0, 4100);
  const std::uint32_t asked = data.ConsumeIntegralInRange<std::uint32_t>(0, 4100);
  std::vector<std::uint8_t> record(capacity);
  vexel::nvm_read_result result{0, 0, record.data(), record.size()};
  vexel::ConnectionScope connection;
  if (connection.Connect() < 0) return;
  const long hr = vexel::Query_MBIM_NVM_READ({vexel::SarParamItem::kId, 0, asked}, &result);
  if (hr == 0 && result.dataBuffer_size > capacity) __builtin_trap();
}

void SetMsSarConfig() {
  vexel::ResetMsSarConfig();
  std::vector<char16_t> reply(4096);
  vexel::ConnectionScope connection;
  if (connection.Connect() < 0) return;
  vexel::Set_MBIM_CID_MS_SAR_CONFIG(vexel::g_MsSarConfig, reply.data());
}

void FrontDoor(FuzzedDataProvider& data) {
  static const char16_t* const kCommands[] = {
      u"AT+BODYSAREN?\r\n",  u"AT+BODYSARMODE?\r\n", u"AT+BODYSAREN = 1\r\n", u"AT+BODYSARON = 0\r\n",
      u"AT+BODYSAR?\r\n",    u"at+bodysar=\r\n",     u"AT+CGSN\r\n",
  };
  const char16_t* command = kCommands[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kCommands) - 1)];
  const bool kestrel = data.ConsumeBool();
  std::vector<std::uint8_t> table(kestrel ? vexel::ProfilePowerImage::kSize : vexel::MaxTxPwrRecord::kSize);
  std::vector<char16_t> reply(4096);
  int length = 0;
  (kestrel ? AtSendInterfaceSTA : AtSendInterface)(command, reply.data(), &length, table.data());
}

}  // namespace

namespace {

std::filesystem::path& Notebook() {
  static std::filesystem::path dir;
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Notebook() = txlfuzz::MakeNotebook("bridge-responses", "");
  txlfuzz::UseNotebook(Notebook());
  vexel::DebugLevel = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  txlfuzz::ResetNotebook(Notebook());
  const int what = data.ConsumeIntegralInRange<int>(0, 2);
  for (sim::ServiceKind service : {sim::ServiceKind::kNvm, sim::ServiceKind::kMsSar, sim::ServiceKind::kAtTunnel})
    sim::testing::SetServiceModel(service, std::make_shared<txlfuzz::QueuedReplies>(Replies(data)));
  switch (what) {
    case 0: ReadNvm(data); break;
    case 1: SetMsSarConfig(); break;
    default: FrontDoor(data); break;
  }
  sim::testing::ResetAll();
  return 0;
}
