// The NVM store: files on the notebook, factory contents, and writers that must not lose each
// other's bytes, whether threads or processes.
#include "sim/nvm_store.h"

#include <cstdlib>
#include <thread>

#include "sim_fixture.h"

namespace simtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

class NvmStoreTest : public SimTest {};

Bytes FileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(NvmStoreTest, UnwrittenItemHasItsFactoryContents) {
  sim::NvmStore store(dir(), sim::ModemFamily::kOsprey);
  EXPECT_EQ(sim::FactoryNvmItem(sim::ModemFamily::kOsprey, 0x103d), store.ReadItem(0x103d).value());
  EXPECT_FALSE(std::filesystem::exists(store.ItemPath(0x103d)));
  EXPECT_EQ(Bytes{}, store.Read(0x103d, 10, 4).value());
}

TEST_F(NvmStoreTest, WritesPersistAsRawBytesUnderTheItemFile) {
  {
    sim::NvmStore store(dir(), sim::ModemFamily::kKestrel);
    ASSERT_TRUE(store.Write(0x103d, 2, {0xAA, 0xBB}));
    ASSERT_TRUE(store.Write(0x103d, 3, {0xCC, 0xDD}));  // overlaps and grows
  }
  const auto file = dir() / "modem" / "nvm" / "0000103d.bin";
  EXPECT_EQ((Bytes{0, 0, 0xAA, 0xCC, 0xDD}), FileBytes(file));
  sim::NvmStore again(dir(), sim::ModemFamily::kKestrel);
  EXPECT_EQ((Bytes{0xAA, 0xCC}), again.Read(0x103d, 2, 2).value());
  EXPECT_EQ((Bytes{0xCC, 0xDD}), again.Read(0x103d, 3, 100).value());  // cut at the item's end
  EXPECT_EQ(dir() / "modem" / "nvm" / "ffffffff.bin", again.ItemPath(0xFFFFFFFFu));
}

TEST_F(NvmStoreTest, ThreadsWithTheirOwnStoresLoseNoWrite) {
  constexpr int kWriters = 4;
  constexpr int kEach = 40;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      sim::NvmStore store(dir(), sim::ModemFamily::kOsprey);
      for (int i = 0; i < kEach; ++i)
        EXPECT_TRUE(store.Write(7, static_cast<std::uint32_t>(i * kWriters + w), {static_cast<std::uint8_t>(w + 1)}));
    });
  }
  for (auto& t : threads) t.join();
  const Bytes item = sim::NvmStore(dir(), sim::ModemFamily::kOsprey).ReadItem(7).value();
  ASSERT_EQ(static_cast<std::size_t>(kWriters * kEach), item.size());
  for (std::size_t i = 0; i < item.size(); ++i) EXPECT_EQ(i % kWriters + 1, item[i]) << "byte " << i;
}

TEST_F(NvmStoreTest, TwoProcessesLoseNoWrite) {
  constexpr int kChildWrites = 60;
  std::vector<int> results(2, -1);
  std::vector<std::thread> children;
  for (int slot = 0; slot < 2; ++slot) {
    children.emplace_back([&, slot] {
      const std::string cmd = std::string("\"") + SIM_NVM_WRITER + "\" 0x2000 " + std::to_string(slot) + " 2 " +
                              std::to_string(kChildWrites);
      results[static_cast<std::size_t>(slot)] = std::system(cmd.c_str());
    });
  }
  for (auto& c : children) c.join();
  EXPECT_EQ((std::vector<int>{0, 0}), results);
  const Bytes item = sim::NvmStore(dir(), sim::ModemFamily::kOsprey).ReadItem(0x2000).value();
  ASSERT_EQ(static_cast<std::size_t>(2 * kChildWrites), item.size());
  for (std::size_t i = 0; i < item.size(); ++i) EXPECT_EQ(0xA0 + i % 2, item[i]) << "byte " << i;
}

}  // namespace
}  // namespace simtest
