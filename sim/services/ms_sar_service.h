// The MS SAR control service: the operating system's back-off state of the modem.
//
// Set request (exactly 28 bytes, u32 each): SAR_Mode, backoff_status, ElementCount, Offset, Size,
// SAR_AntennaIndex, SAR_BackOffIndex. The modem keeps all seven on the notebook
// (modem/ms_sar.bin, the request's bytes), so every process sees the state last set.
//
// Answer to a set and to a query (whatever the query carries): SARMode, SARBackOffStatus,
// SARWifiIntegration (0), ElementCount, then ElementCount offset/size pairs, then the antenna and
// back-off index of the state. The modem holds a single state for all elements, so every pair
// points at it: offset 16 + 8 * ElementCount, size 8, counted from the start of the answer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "sim/service_model.h"
#include "sim/services/state_file.h"

namespace sim::services {

inline constexpr std::uint32_t kMsSarCid = 1;

// The state before anything was set: OS-controlled, back-off on, one element, antenna 0 at
// back-off index 1.
struct MsSarState {
  std::uint32_t mode = 1;
  std::uint32_t backoff_status = 1;
  std::uint32_t element_count = 1;
  std::uint32_t offset = 20;
  std::uint32_t size = 8;
  std::uint32_t antenna_index = 0;
  std::uint32_t backoff_index = 1;
};

class MsSarService final : public ServiceModel {
 public:
  explicit MsSarService(const std::filesystem::path& machine_dir);
  ServiceReply Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;
  ServiceReply Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;

 private:
  StateFile state_;
};

}  // namespace sim::services
