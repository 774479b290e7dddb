#include "sim/nvm_store.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/fs.h"
#include "platform/whole_file.h"

namespace sim {

NvmStore::NvmStore(std::filesystem::path machine_dir, ModemFamily family)
    : folder_(std::move(machine_dir) / "modem" / "nvm"), family_(family) {}

std::filesystem::path NvmStore::ItemPath(std::uint32_t item) const {
  char name[16];
  std::snprintf(name, sizeof name, "%08x.bin", static_cast<unsigned>(item));
  return folder_ / name;
}

std::optional<std::vector<std::uint8_t>> NvmStore::ReadUnlocked(std::uint32_t item) const {
  const std::filesystem::path file = ItemPath(item);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return FactoryNvmItem(family_, item);
  std::vector<std::uint8_t> bytes;
  if (!plat::ReadFileContents(file, &bytes)) return std::nullopt;
  return bytes;
}

std::optional<std::vector<std::uint8_t>> NvmStore::ReadItem(std::uint32_t item) const {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  const auto lock = plat::LockFile((folder_ / "nvm.lock").u16string());
  if (!lock) return std::nullopt;
  return ReadUnlocked(item);
}

std::optional<std::vector<std::uint8_t>> NvmStore::Read(std::uint32_t item, std::uint32_t offset,
                                                        std::uint32_t length) const {
  auto all = ReadItem(item);
  if (!all) return std::nullopt;
  if (offset >= all->size()) return std::vector<std::uint8_t>();
  const std::size_t end = std::min<std::size_t>(all->size(), std::size_t{offset} + length);
  return std::vector<std::uint8_t>(all->begin() + offset, all->begin() + static_cast<std::ptrdiff_t>(end));
}

bool NvmStore::Write(std::uint32_t item, std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  const auto lock = plat::LockFile((folder_ / "nvm.lock").u16string());
  if (!lock) return false;
  auto contents = ReadUnlocked(item);
  if (!contents) return false;
  const std::size_t end = std::size_t{offset} + bytes.size();
  if (contents->size() < end) contents->resize(end, 0);
  std::copy(bytes.begin(), bytes.end(), contents->begin() + offset);

  return plat::ReplaceFileContents(ItemPath(item), *contents);
}

}  // namespace sim
