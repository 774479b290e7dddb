#include "tool/txl_apply.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "api/exports.h"
#include "platform/named_mutex.h"
#include "platform/sync.h"

namespace txlapply {
namespace {

// Holds the run lock for its life. A lock that cannot be had (its file or object cannot be made)
// leaves the run unserialised rather than refusing it: the tool has no other way to report.
class RunLock {
 public:
  RunLock() : mutex_(plat::OpenNamedMutex(kRunLockName)) {
    held_ = mutex_ && mutex_->Wait() == plat::WAIT_OBJECT_0;
  }
  ~RunLock() {
    if (held_) mutex_->Release();
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

 private:
  std::unique_ptr<plat::NamedMutex> mutex_;
  bool held_ = false;
};

constexpr std::size_t LongestRow() {
  std::size_t n = 0;
  for (auto rows : {std::span<const std::string_view>(kSet0Rows), std::span<const std::string_view>(kSet1WriteRows),
                    std::span<const std::string_view>(kSet2WriteRows)})
    for (std::string_view row : rows) n = std::max(n, row.size());
  return n;
}

// One row and its terminating zero; set_BodySarValue takes a writable text.
using RowBuffer = std::array<char, LongestRow() + 1>;

int WriteRow(const KrillCalls& krill, RowBuffer& buffer, std::string_view row) {
  buffer.fill('\0');
  std::memcpy(buffer.data(), row.data(), row.size());
  return krill.set_BodySarValue(buffer.data());
}

void EnsureModeOne(const KrillCalls& krill) {
  // Not 0: a read that fails and leaves the value alone does not count as a read 0.
  int mode = -1;
  krill.get_BodySarMode(&mode);
  if (mode == 0) krill.set_BodySarMode(1);
}

int WriteAllRows(const KrillCalls& krill) {
  unsigned int ready = 0;
  krill.get_IsMBIMReady(&ready);
  krill.set_BodySarEnable(1);
  krill.set_BodySarON(1);
  RowBuffer buffer{};
  int result = 0;
  for (std::string_view row : kSet0Rows) result = WriteRow(krill, buffer, row);
  return result;
}

int ApplyCheckedSet(const KrillCalls& krill, const CheckedSet& set) {
  unsigned int ready = 0;
  if (const int r = krill.get_IsMBIMReady(&ready); r != 0) return r;
  krill.set_BodySarEnable(1);
  EnsureModeOne(krill);

  std::array<char, kBodySarValueTextBytes> read_back{};
  krill.get_BodySarValue(read_back.data());
  const std::string_view text(read_back.data(), ::strnlen(read_back.data(), read_back.size()));
  if (MissingRows(text, set.check_rows) == 0) return 0;

  // The modem needs time after the settings above before it takes a clear.
  plat::SleepMs(kWaitBeforeClearMs);
  krill.set_BodySarClear();
  EnsureModeOne(krill);
  krill.set_BodySarProfile(1);
  RowBuffer buffer{};
  plat::SleepMs(kWaitBeforeWriteMs);
  int result = 0;
  for (std::string_view row : set.write_rows) result = WriteRow(krill, buffer, row);
  return result;
}

int SwitchBackOff(const KrillCalls& krill, int index) {
  unsigned int ready = 0;
  krill.get_IsMBIMReady(&ready);
  return krill.set_BodySarON(index);
}

}  // namespace

std::size_t MissingRows(std::string_view read_back, std::span<const std::string_view> check_rows) {
  return static_cast<std::size_t>(std::count_if(check_rows.begin(), check_rows.end(), [&](std::string_view row) {
    return read_back.find(row) == std::string_view::npos;
  }));
}

int Run(char16_t first, const KrillCalls& krill) {
  if (first < u'0' || first > u'4') return 0;
  // Read, decide, clear and write make one step against every other run on this machine.
  const RunLock lock;
  switch (first) {
    case u'0':
      return WriteAllRows(krill);
    case u'1':
      return ApplyCheckedSet(krill, {kSet1CheckRows, kSet1WriteRows});
    case u'2':
      return ApplyCheckedSet(krill, {kSet2CheckRows, kSet2WriteRows});
    case u'3':
      return SwitchBackOff(krill, 1);
    case u'4':
      return SwitchBackOff(krill, 0);
    default:
      return 0;
  }
}

}  // namespace txlapply
