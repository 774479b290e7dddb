// The vendor NVM access service and the factory contents of the SAR parameter item, as a bridge
// on the far side sees them: requests and answers as literal bytes, items decoded by hand.
#include <cstdint>
#include <vector>

#include "services_test_support.h"
#include "sim/nvm_store.h"
#include "sim/services/nvm_service.h"
#include "sim/services/status.h"
#include "sim_fixture.h"

namespace simtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::ModemFamily;

constexpr std::uint32_t kSarItem = 0x103d0000u;

std::uint16_t U16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class NvmServiceTest : public SimTest {
 protected:
  sim::services::NvmService Service(ModemFamily family = ModemFamily::kOsprey) { return {dir(), family}; }
  Bytes Item(ModemFamily family = ModemFamily::kOsprey) {
    return sim::NvmStore(dir(), family).ReadItem(kSarItem).value();
  }
};

// ---- Reads ---------------------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  Bytes request;
  Bytes answer;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class NvmReadTest : public NvmServiceTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(NvmReadTest, AnswersIdSizeAndBytes) {
  const auto reply = Service().Query(1, GetParam().request);
  EXPECT_EQ(plat::S_OK, reply.status);
  EXPECT_TRUE(reply.has_payload);
  EXPECT_EQ(GetParam().answer, reply.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Osprey, NvmReadTest,
    ::testing::Values(
        // The flags, then the 3G rat and override flag of profile 0.
        ReadCase{"Head",
                 {0x00, 0x00, 0x3d, 0x10, /*offset*/ 0, 0, 0, 0, /*size*/ 4, 0, 0, 0},
                 {0x00, 0x00, 0x3d, 0x10, /*size*/ 4, 0, 0, 0, /*enable*/ 0, /*polarity*/ 0, /*rat*/ 1, /*flag*/ 1}},
        // Profile 0, 3G: four elements; the first is band 1 at 23.5 dBm on port A.
        ReadCase{"FirstElement",
                 {0x00, 0x00, 0x3d, 0x10, /*offset*/ 4, 0, 0, 0, /*size*/ 8, 0, 0, 0},
                 {0x00, 0x00, 0x3d, 0x10, 8, 0, 0, 0, /*count*/ 4, 0, /*band*/ 1, 0, /*reserved*/ 0, 0,
                  /*port A 376*/ 0x78, 0x01}},
        // Profile 1 at 1450: its 4G block at 1450+364 holds nine elements.
        ReadCase{"Profile1Count4g",
                 {0x00, 0x00, 0x3d, 0x10, /*offset 1814*/ 0x16, 0x07, 0, 0, /*size*/ 4, 0, 0, 0},
                 {0x00, 0x00, 0x3d, 0x10, 4, 0, 0, 0, /*rat*/ 2, /*flag*/ 1, /*count*/ 9, 0}},
        ReadCase{"LastByte",
                 {0x00, 0x00, 0x3d, 0x10, /*offset 2897*/ 0x51, 0x0b, 0, 0, 1, 0, 0, 0},
                 {0x00, 0x00, 0x3d, 0x10, 1, 0, 0, 0, 0}},
        ReadCase{"NothingAtTheStart",
                 {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 0, 0, 0, 0},
                 {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0}},
        ReadCase{"NothingAtTheEnd",
                 {0x00, 0x00, 0x3d, 0x10, /*offset 2898*/ 0x52, 0x0b, 0, 0, 0, 0, 0, 0},
                 {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(NvmServiceTest, ReadsTheWholeItemInOneAnswer) {
  const Bytes request = {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, /*size 2898*/ 0x52, 0x0b, 0, 0};
  const auto reply = Service().Query(1, request);
  ASSERT_EQ(plat::S_OK, reply.status);
  EXPECT_EQ(Concat({0x00, 0x00, 0x3d, 0x10, 0x52, 0x0b, 0, 0}, sim::FactoryNvmItem(ModemFamily::kOsprey, kSarItem)),
            reply.payload);
}

// ---- Failures ------------------------------------------------------------------------------------

struct FailCase {
  const char* name;
  bool write;
  std::uint32_t cid;
  Bytes request;
  plat::HRESULT status;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class NvmFailTest : public NvmServiceTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(NvmFailTest, FailsWithoutPayloadAndChangesNothing) {
  const FailCase& c = GetParam();
  auto service = Service();
  const auto reply = c.write ? service.Set(c.cid, c.request) : service.Query(c.cid, c.request);
  EXPECT_EQ(c.status, reply.status);
  EXPECT_FALSE(reply.has_payload);
  EXPECT_TRUE(reply.payload.empty());
  const sim::NvmStore store(dir(), ModemFamily::kOsprey);
  EXPECT_FALSE(std::filesystem::exists(store.ItemPath(kSarItem)));
  EXPECT_FALSE(std::filesystem::exists(store.ItemPath(0x12345678u)));
  EXPECT_EQ(sim::FactoryNvmItem(ModemFamily::kOsprey, kSarItem), Item());
}

constexpr plat::HRESULT kBad = plat::Hr(0x80070057u);
constexpr plat::HRESULT kUnknown = plat::Hr(0x80070490u);
constexpr plat::HRESULT kNoCommand = plat::Hr(0x80004001u);

INSTANTIATE_TEST_SUITE_P(
    Requests, NvmFailTest,
    ::testing::Values(
        FailCase{"ReadEmptyRequest", false, 1, {}, kBad},
        FailCase{"ReadShortRequest", false, 1, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 4, 0, 0}, kBad},
        FailCase{"ReadLongRequest", false, 1, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 4, 0, 0, 0, 0}, kBad},
        FailCase{"ReadPastTheEnd", false, 1, {0x00, 0x00, 0x3d, 0x10, 0x51, 0x0b, 0, 0, 2, 0, 0, 0}, kBad},
        FailCase{"ReadStartingPastTheEnd", false, 1, {0x00, 0x00, 0x3d, 0x10, 0x53, 0x0b, 0, 0, 0, 0, 0, 0}, kBad},
        FailCase{"ReadRangeWrapsAround", false, 1, {0x00, 0x00, 0x3d, 0x10, 0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0}, kBad},
        FailCase{"ReadLargerThanAnAnswer", false, 1, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 0xf9, 0x0f, 0, 0}, kBad},
        FailCase{"ReadUnknownItem", false, 1, {0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0}, kUnknown},
        FailCase{"ReadOtherCommand", false, 2, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 1, 0, 0, 0}, kNoCommand},
        FailCase{"WriteShortHead", true, 1, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 0, 0, 0}, kBad},
        FailCase{"WriteDataShorterThanSize",
                 true,
                 1,
                 {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, /*size*/ 3, 0, 0, 0, 0xAA, 0xBB},
                 kBad},
        FailCase{"WriteHugeSize", true, 1, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0xAA}, kBad},
        FailCase{"WritePastTheEnd",
                 true,
                 1,
                 {0x00, 0x00, 0x3d, 0x10, /*offset 2897*/ 0x51, 0x0b, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB},
                 kBad},
        FailCase{"WriteUnknownItem", true, 1, {0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0, 1, 0, 0, 0, 0xAA}, kUnknown},
        FailCase{"WriteOtherCommand", true, 3, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 1, 0, 0, 0, 0xAA}, kNoCommand}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(NvmServiceTest, ModemWithoutTheItemFailsEvenAnEmptyRead) {
  const auto reply = Service(ModemFamily::kOther).Query(1, {0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(kUnknown, reply.status);
  EXPECT_FALSE(reply.has_payload);
}

// ---- Writes --------------------------------------------------------------------------------------

TEST_F(NvmServiceTest, PaddedWriteStoresItsBytesAndEchoesTheHead) {
  // The bridge sends a whole 4096-byte buffer: the size field says how much of it is data.
  Bytes request = {0x00, 0x00, 0x3d, 0x10, /*offset*/ 0, 0, 0, 0, /*size*/ 2, 0, 0, 0, /*enable*/ 1, /*pol*/ 1};
  request.resize(4096, 0xEE);
  const auto reply = Service().Set(1, request);
  ASSERT_EQ(plat::S_OK, reply.status);
  EXPECT_EQ((Bytes{0x00, 0x00, 0x3d, 0x10, 0, 0, 0, 0, 2, 0, 0, 0}), reply.payload);

  Bytes expected = sim::FactoryNvmItem(ModemFamily::kOsprey, kSarItem);
  expected[0] = 1;
  expected[1] = 1;
  EXPECT_EQ(expected, Item());  // the padding went nowhere
}

TEST_F(NvmServiceTest, WriteIsSeenByAnotherServiceAndStoreOfTheNotebook) {
  // The last two bytes of the item: port D of profile 1's last 4G slot.
  ASSERT_EQ(plat::S_OK,
            Service().Set(1, {0x00, 0x00, 0x3d, 0x10, /*2896*/ 0x50, 0x0b, 0, 0, 2, 0, 0, 0, 0x34, 0x12}).status);
  const auto reply = Service().Query(1, {0x00, 0x00, 0x3d, 0x10, 0x4f, 0x0b, 0, 0, 3, 0, 0, 0});
  ASSERT_EQ(plat::S_OK, reply.status);
  EXPECT_EQ((Bytes{0x00, 0x00, 0x3d, 0x10, 3, 0, 0, 0, 0x00, 0x34, 0x12}), reply.payload);
  EXPECT_EQ(2898u, Item().size());  // the item did not grow
  EXPECT_EQ(0x1234, U16(Item(), 2896));
}

TEST_F(NvmServiceTest, EmptyWriteSucceedsAndLeavesTheItem) {
  const auto reply = Service().Set(1, {0x00, 0x00, 0x3d, 0x10, 0x52, 0x0b, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(plat::S_OK, reply.status);
  EXPECT_EQ(sim::FactoryNvmItem(ModemFamily::kOsprey, kSarItem), Item());
}

// ---- Factory contents ----------------------------------------------------------------------------

constexpr std::uint16_t kMaxPower = 24 * 16;  // no limit above 24 dBm leaves the factory

// One osprey override block: rat, flag, count, then 12-byte elements up to capacity.
void CheckOspreyBlock(const Bytes& item, std::size_t at, std::size_t capacity, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_NE(0, item[at]) << "rat";
  EXPECT_NE(0, item[at + 1]) << "pOverrideFlag";
  const std::size_t count = U16(item, at + 2);
  EXPECT_GT(count, 0u);
  ASSERT_LE(count, capacity);
  for (std::size_t e = 0; e < capacity; ++e) {
    const std::size_t el = at + 4 + 12 * e;
    if (e < count) {
      EXPECT_NE(0, U16(item, el)) << "band of element " << e;
      for (std::size_t p = 0; p < 4; ++p) {
        EXPECT_GT(U16(item, el + 4 + 2 * p), 0) << "element " << e << " port " << p;
        EXPECT_LE(U16(item, el + 4 + 2 * p), kMaxPower) << "element " << e << " port " << p;
      }
    } else {
      for (std::size_t b = 0; b < 12; ++b) EXPECT_EQ(0, item[el + b]) << "unused element " << e;
    }
  }
}

TEST(SarParamItemTest, OspreyHoldsTwoDistinctProfiles) {
  const Bytes item = sim::FactoryNvmItem(ModemFamily::kOsprey, kSarItem);
  ASSERT_EQ(2898u, item.size());
  EXPECT_EQ(0, item[0]) << "body-SAR enable";
  EXPECT_EQ(0, item[1]) << "sensor polarity";
  for (const std::size_t profile : {2u, 1450u}) {
    CheckOspreyBlock(item, profile, 30, profile == 2 ? "profile 0 3G" : "profile 1 3G");
    CheckOspreyBlock(item, profile + 364, 90, profile == 2 ? "profile 0 4G" : "profile 1 4G");
  }
  EXPECT_NE(Bytes(item.begin() + 2, item.begin() + 1450), Bytes(item.begin() + 1450, item.end()));
  // Values others test against: profile 0's 3G band 2 (second element), 4G band 7 (sixth).
  EXPECT_EQ(2, U16(item, 2 + 4 + 12));
  EXPECT_EQ(368, U16(item, 2 + 4 + 12 + 4));  // 23 dBm on port A
  EXPECT_EQ(7, U16(item, 2 + 368 + 5 * 12));
  EXPECT_EQ(344, U16(item, 2 + 368 + 5 * 12 + 4));  // 21.5 dBm
}

TEST(SarParamItemTest, KestrelHoldsThreeTablesOfPerBandPower) {
  const Bytes item = sim::FactoryNvmItem(ModemFamily::kKestrel, kSarItem);
  ASSERT_EQ(626u, item.size());
  EXPECT_EQ(0, item[0]);
  EXPECT_EQ(0, item[1]);
  std::vector<Bytes> bodies;
  for (const std::size_t table : {2u, 210u, 418u}) {
    SCOPED_TRACE(table);
    for (std::size_t w = 0; w < 8; ++w) EXPECT_NE(0, U16(item, table + 2 * w)) << "head word " << w;
    for (std::size_t w = 8; w < 104; ++w) EXPECT_LE(U16(item, table + 2 * w), kMaxPower) << "word " << w;
    EXPECT_NE(0, U16(item, table + 2 * 8)) << "3G band 1";
    EXPECT_NE(0, U16(item, table + 2 * 38)) << "4G band 1";
    EXPECT_NE(0, U16(item, table + 2 * (38 + 65))) << "4G band 66";
    EXPECT_EQ(0, U16(item, table + 2 * (8 + 29))) << "3G band 30";
    EXPECT_EQ(0, U16(item, table + 2 * (38 + 5))) << "4G band 6";
    bodies.emplace_back(item.begin() + static_cast<std::ptrdiff_t>(table + 16),
                        item.begin() + static_cast<std::ptrdiff_t>(table + 208));
  }
  EXPECT_NE(bodies[0], bodies[1]);
  EXPECT_NE(bodies[1], bodies[2]);
  EXPECT_EQ(376, U16(item, 2 + 16));             // table 0, 3G band 1: 23.5 dBm
  EXPECT_EQ(376 - 32, U16(item, 210 + 16));      // table 1 backs off 2 dB
  EXPECT_EQ(368 - 64, U16(item, 418 + 2 * 38));  // table 2, 4G band 1: 23 dBm less 4 dB
}

TEST(SarParamItemTest, OtherFamilyHasNoneAndOtherItemsStayEmpty) {
  EXPECT_TRUE(sim::FactoryNvmItem(ModemFamily::kOther, kSarItem).empty());
  EXPECT_TRUE(sim::FactoryNvmItem(ModemFamily::kOsprey, 0x103d).empty());
  EXPECT_TRUE(sim::FactoryNvmItem(ModemFamily::kKestrel, kSarItem + 1).empty());
}

// ---- Through the stack ---------------------------------------------------------------------------

TEST_F(NvmServiceTest, KestrelReadArrivesThroughTheDeviceService) {
  WriteIni("[module]\nfamily=kestrel\n");
  ServiceClient nvm(kNvmId);
  // Table 1's head: version 1.2, then its number 2.
  const Delivered d = nvm.Query(1, {0x00, 0x00, 0x3d, 0x10, /*offset 210*/ 0xd2, 0, 0, 0, /*size*/ 4, 0, 0, 0});
  EXPECT_EQ(plat::S_OK, d.status);
  EXPECT_EQ((Bytes{0x00, 0x00, 0x3d, 0x10, 4, 0, 0, 0, 0x02, 0x01, 0x02, 0x00}), d.data);
}

}  // namespace
}  // namespace simtest
