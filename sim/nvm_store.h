// The modem's non-volatile memory, kept on the notebook so that it outlives the process that wrote
// it: each item is modem/nvm/ITEM.bin (ITEM as 8 lower-case hex digits) holding the item's raw
// bytes. An item without a file still has its factory contents.
//
// Several processes may write one item at once; each write is a read-modify-write under an
// inter-process lock, and the new contents replace the file by renaming a finished temporary
// file, so no write is lost and no reader sees half an item.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/modem_config.h"

namespace sim {

// What an item holds when the modem leaves the factory. The item layouts are the services'
// business: sim/services defines it.
std::vector<std::uint8_t> FactoryNvmItem(ModemFamily family, std::uint32_t item);

class NvmStore {
 public:
  // machine_dir: the notebook's folder (the store lives in machine_dir/modem/nvm).
  NvmStore(std::filesystem::path machine_dir, ModemFamily family);

  // The whole item; nullopt when its file exists but cannot be read.
  std::optional<std::vector<std::uint8_t>> ReadItem(std::uint32_t item) const;
  // Up to `length` bytes from `offset`: fewer when the item ends sooner, none when it ends before
  // offset. nullopt when the item cannot be read.
  std::optional<std::vector<std::uint8_t>> Read(std::uint32_t item, std::uint32_t offset, std::uint32_t length) const;
  // Puts `bytes` at `offset`, growing the item (with zeros) when it is shorter. False when the
  // store cannot be written; the item is then unchanged.
  bool Write(std::uint32_t item, std::uint32_t offset, const std::vector<std::uint8_t>& bytes);

  // The file of an item: folder()/103d0000.bin.
  std::filesystem::path ItemPath(std::uint32_t item) const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::optional<std::vector<std::uint8_t>> ReadUnlocked(std::uint32_t item) const;

  std::filesystem::path folder_;
  ModemFamily family_;
};

}  // namespace sim
