#include "sim/services/nvm_service.h"

#include <optional>

#include "platform/bytes.h"
#include "sim/runtime.h"
#include "sim/services/reply.h"
#include "sim/services/status.h"

namespace sim::services {

namespace {

constexpr std::size_t kHeadSize = 12;
constexpr std::size_t kReadAnswerHead = 8;

struct Head {
  std::uint32_t item;
  std::uint32_t offset;
  std::uint32_t size;
};

Head ParseHead(const Bytes& data) {
  plat::LeReader in(data);
  return Head{in.U32(0), in.U32(4), in.U32(8)};
}

// Checks the range against the item as it is now: OK, or the status that fails the command.
plat::HRESULT CheckRange(const NvmStore& store, const Head& head) {
  const std::optional<Bytes> item = store.ReadItem(head.item);
  if (!item) return kReadFault;
  // The store answers an item it never heard of with no bytes: the modem has no such item.
  if (item->empty()) return kUnknownItem;
  if (std::uint64_t{head.offset} + head.size > item->size()) return kBadRequest;
  return plat::S_OK;
}

}  // namespace

NvmService::NvmService(const std::filesystem::path& machine_dir, ModemFamily family) : store_(machine_dir, family) {}

ServiceReply NvmService::Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) {
  if (cid != kNvmCid) return Fail(kUnknownCommand);
  if (data.size() != kHeadSize) return Fail(kBadRequest);
  const Head head = ParseHead(data);
  if (kReadAnswerHead + std::uint64_t{head.size} > kMaxCommandSize) return Fail(kBadRequest);
  if (const plat::HRESULT hr = CheckRange(store_, head); plat::Failed(hr)) return Fail(hr);
  const std::optional<Bytes> bytes = store_.Read(head.item, head.offset, head.size);
  if (!bytes || bytes->size() != head.size) return Fail(kReadFault);
  Bytes answer;
  answer.reserve(kReadAnswerHead + bytes->size());
  plat::AppendU32(answer, head.item);
  plat::AppendU32(answer, head.size);
  answer.insert(answer.end(), bytes->begin(), bytes->end());
  return Answer(std::move(answer));
}

ServiceReply NvmService::Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) {
  if (cid != kNvmCid) return Fail(kUnknownCommand);
  if (data.size() < kHeadSize) return Fail(kBadRequest);
  const Head head = ParseHead(data);
  if (head.size > data.size() - kHeadSize) return Fail(kBadRequest);
  if (const plat::HRESULT hr = CheckRange(store_, head); plat::Failed(hr)) return Fail(hr);
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(kHeadSize);
  if (!store_.Write(head.item, head.offset, Bytes(first, first + static_cast<std::ptrdiff_t>(head.size))))
    return Fail(kWriteFault);
  return Answer(Bytes(data.begin(), first));
}

}  // namespace sim::services
