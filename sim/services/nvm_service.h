// The vendor NVM access service: reads (query) and writes (set) of byte ranges of the modem's NVM
// items, through the notebook's NvmStore so that every process sees one modem.
//
// Read request:  nvm_id, nvm_offset, dataBuffer_size (u32 each, exactly 12 bytes).
// Read answer:   nvm_id, dataBuffer_size, then the bytes.
// Write request: nvm_id, nvm_offset, dataBuffer_size (n), then n bytes (anything after them is
//                padding and ignored).
// Write answer:  the request's 12-byte head.
// An item keeps the size it left the factory with: a range past its end fails, and so does any
// range of an item the modem does not have. A failed command changes nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "sim/nvm_store.h"
#include "sim/service_model.h"

namespace sim::services {

inline constexpr std::uint32_t kNvmCid = 1;

class NvmService final : public ServiceModel {
 public:
  NvmService(const std::filesystem::path& machine_dir, ModemFamily family);
  ServiceReply Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;
  ServiceReply Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) override;

 private:
  NvmStore store_;
};

}  // namespace sim::services
