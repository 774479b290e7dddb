// The body-SAR value tables without a modem: band tables, table-text parsing, the changes a text
// makes to each family's record, the read-back text, and the bound on what get_BodySarValue writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/values/value_records.h"
#include "api/values/value_text.h"

namespace {

using namespace krill;
using vexel::GetU16;
using vexel::PutU16;

// ---- Band tables -----------------------------------------------------------------------------------

// 1 shifted left by (band - 1), in hexadecimal.
std::string HexOfBand(int band) {
  return std::string(1, "1248"[(band - 1) % 4]) + std::string(static_cast<std::size_t>((band - 1) / 4), '0');
}

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

TEST(BandTables, RowCountsAndEveryMaskIsTheBandsBitExceptOspreyBand6) {
  EXPECT_EQ(Kestrel3GBandTable().size(), 5u);
  EXPECT_EQ(Kestrel4GBandTable().size(), 24u);
  EXPECT_EQ(OspreyBandTable().size(), 29u);
  for (const auto* table : {&Kestrel3GBandTable(), &Kestrel4GBandTable()})
    for (const BandRow& row : *table) EXPECT_EQ(row.mask, HexOfBand(row.number + 1)) << "index " << row.number;
  for (const BandRow& row : OspreyBandTable())
    EXPECT_EQ(row.mask, HexOfBand(row.number == 6 ? 5 : row.number)) << "band " << row.number;
}

TEST(BandTables, WhichBandsEachTableServes) {
  auto bands = [](const std::vector<BandRow>& t, int offset) {
    std::vector<int> out;
    for (const BandRow& r : t) out.push_back(r.number + offset);
    return out;
  };
  EXPECT_EQ(bands(Kestrel3GBandTable(), 1), (std::vector<int>{1, 2, 4, 5, 8}));
  EXPECT_EQ(bands(Kestrel4GBandTable(), 1),
            (std::vector<int>{1, 2, 3, 4, 5, 7, 8, 11, 12, 13, 17, 18, 19, 20, 21, 26, 28, 29, 30, 38, 39, 40, 41, 66}));
  EXPECT_EQ(bands(OspreyBandTable(), 0),
            (std::vector<int>{1,  2,  3,  4,  5,  6,  7,  8,  12, 13, 14, 17, 18, 19, 20,
                              21, 25, 26, 28, 29, 30, 32, 38, 39, 40, 41, 42, 46, 66}));
}

TEST(BandTables, LookupFirstRowWinsAndOnlyExactTextMatches) {
  EXPECT_EQ(FindBand(OspreyBandTable(), "10", false), std::optional<std::uint16_t>(5));
  EXPECT_EQ(FindBand(Kestrel4GBandTable(), "20000000000000000", true), std::optional<std::uint16_t>(65));
  EXPECT_FALSE(FindBand(OspreyBandTable(), "010", false));
  EXPECT_FALSE(FindBand(OspreyBandTable(), "", false));
  EXPECT_FALSE(FindBand(Kestrel3GBandTable(), "4", true));  // band 3 has no 3G row
  EXPECT_EQ(FindMask(OspreyBandTable(), 6), std::optional<std::string_view>("10"));
  EXPECT_FALSE(FindMask(OspreyBandTable(), 11));
}

// ---- Table text ------------------------------------------------------------------------------------

struct ParseCase {
  const char* name;
  std::string text;
  Technology tech;
  std::vector<std::pair<std::string, std::string>> pairs;  // value text, mask
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, PairsAndSelector) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(ReadSelector(c.text), c.tech);
  std::vector<OspreyValueEntry> entries;
  ParseOspreyValueText(c.text, &entries);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& e : entries) got.emplace_back(e.value_text, e.mask);
  EXPECT_EQ(got, c.pairs);
}

INSTANTIATE_TEST_SUITE_P(
    TableText, ParseTest,
    ::testing::Values(
        ParseCase{"FourPairs3G", R"(1,200,"0x1",190,"0x2",205,"0x8",220,"0x10")", Technology::k3G,
                  {{"200", "1"}, {"190", "2"}, {"205", "8"}, {"220", "10"}}},
        ParseCase{"TwoPairs4G", R"(2,215,"0x10000000000",220,"0x20000000000000000")", Technology::k4G,
                  {{"215", "10000000000"}, {"220", "20000000000000000"}}},
        ParseCase{"OnePair", R"(1,235,"0x1")", Technology::k3G, {{"235", "1"}}},
        ParseCase{"TailAfterLastQuoteIgnored", R"(1,235,"0x1" trailing)", Technology::k3G, {{"235", "1"}}},
        ParseCase{"BlankBeforeQuoteSpoilsMask", R"(1,235, "0x1")", Technology::k3G, {{"235", "x1"}}},
        ParseCase{"LeadingZeroKept", R"(1,235,"0x010")", Technology::k3G, {{"235", "010"}}},
        ParseCase{"NoClosingQuoteTakesTheRest", R"(1,235,"0x10)", Technology::k3G, {{"235", "10"}}},
        ParseCase{"ValueWithoutMaskComma", "1,235", Technology::k3G, {}},
        ParseCase{"CommaAtTheEnd", "1,235,", Technology::k3G, {{"235", ""}}},
        ParseCase{"NoComma", "1", Technology::kNone, {}},
        ParseCase{"CommaFirst", R"(,235,"0x1")", Technology::kNone, {{"235", "1"}}},
        ParseCase{"SelectorIsTheCharBeforeTheComma", R"(12,235,"0x1")", Technology::k4G, {{"235", "1"}}},
        ParseCase{"OtherSelector", R"(3,235,"0x1")", Technology::kNone, {{"235", "1"}}},
        ParseCase{"Empty", "", Technology::kNone, {}}),
    CaseName<ParseCase>);

TEST(TableText, KestrelEntriesHoldTheValueAsSixteenBitsAndOutOfRangeNumbersAboveEveryLimit) {
  std::vector<KestrelValueEntry> entries;
  ParseKestrelValueText(R"(1,235,"0x1",-1,"0x2",65771,"0x8",abc,"0x10",07,"0x80")", &entries);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].value, 235);
  EXPECT_EQ(entries[1].value, 0xFFFF);  // negative: out of range, not wrapped
  EXPECT_EQ(entries[2].value, 0xFFFF);  // would wrap to 235
  EXPECT_EQ(entries[3].value, 0);
  EXPECT_EQ(entries[4].value, 7);
  EXPECT_FALSE(entries[0].matched);  // matching belongs to the list builder
}

// ---- Units -----------------------------------------------------------------------------------------

TEST(Units, ConversionsTruncateTowardZero) {
  const std::pair<int, int> written[] = {{235, 376}, {230, 368}, {200, 320}, {201, 321}, {0, 0}, {1, 1}};
  for (auto [tenths, nvm] : written) EXPECT_EQ(TenthsToNvm(tenths), nvm) << tenths;
  const std::pair<int, int> read[] = {{376, 235}, {321, 200}, {-17, -10}, {368, 230}, {1, 0}, {-1, 0}};
  for (auto [nvm, tenths] : read) EXPECT_EQ(NvmToTenths(nvm), tenths) << nvm;
}

// ---- Kestrel image ---------------------------------------------------------------------------------

ProfilePowerImage KestrelImageFilled() {
  ProfilePowerImage image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return image;
}

int ApplyKestrel(const std::string& text, unsigned table, ProfilePowerImage* image) {
  return ApplyKestrelValueLists(ParseKestrelValueLists(text), table, image);
}

// Byte offsets that differ between two images.
std::vector<std::size_t> Changed(const ProfilePowerImage& a, const ProfilePowerImage& b) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) out.push_back(i);
  return out;
}

struct KestrelCase {
  const char* name;
  std::string text;
  unsigned table;
  int result;
  std::vector<std::pair<std::size_t, std::uint16_t>> words;  // offset, new value; nothing else changes
};

class KestrelApplyTest : public ::testing::TestWithParam<KestrelCase> {};

TEST_P(KestrelApplyTest, ChangesExactlyTheNamedWords) {
  const KestrelCase& c = GetParam();
  const ProfilePowerImage before = KestrelImageFilled();
  ProfilePowerImage image = before;
  EXPECT_EQ(ApplyKestrel(c.text, c.table, &image), c.result);
  ProfilePowerImage expected = before;
  for (auto [at, v] : c.words) PutU16(expected.data() + at, v);
  EXPECT_EQ(Changed(expected, image), std::vector<std::size_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Kestrel, KestrelApplyTest,
    ::testing::Values(
        KestrelCase{"Band5At235", R"(1,235,"0x10")", 1, 0, {{Tx3gPowerAt(1, 4), 376}}},
        KestrelCase{"Band5InTable0", R"(1,235,"0x10")", 0, 0, {{6 + 16 + 8, 376}}},
        KestrelCase{"Band5InTable2", R"(1,235,"0x10")", 2, 0, {{6 + 416 + 16 + 8, 376}}},
        KestrelCase{"Above3GLimit", R"(1,236,"0x10")", 1, 5, {}},
        KestrelCase{"Band66At230", R"(2,230,"0x20000000000000000")", 1, 0, {{6 + 208 + 76 + 130, 368}}},
        KestrelCase{"Above4GLimit", R"(2,231,"0x1")", 1, 5, {}},
        KestrelCase{"LimitIsPerTechnology", R"(2,235,"0x10")", 1, 5, {}},
        KestrelCase{"OneBadValueRefusesTheWholeText", R"(1,200,"0x1",190,"0x2",236,"0x8")", 1, 5, {}},
        KestrelCase{"UnmatchedMaskIsStillRangeTested", R"(1,300,"0x4")", 1, 5, {}},
        KestrelCase{"UnmatchedMaskChangesNothing", R"(1,200,"0x4")", 1, 0, {}},
        KestrelCase{"ProfileIndex3", R"(1,200,"0x1")", 3, 5, {}},
        KestrelCase{"LaterValueWins", R"(1,200,"0x1",150,"0x1")", 1, 0, {{Tx3gPowerAt(1, 0), 240}}},
        KestrelCase{"LeadingZeroMatchesNothing", R"(1,200,"0x010")", 1, 0, {}},
        KestrelCase{"BlankMatchesNothing", R"(1,200, "0x10")", 1, 0, {}},
        KestrelCase{"NoComma", "1", 1, 0, {}},
        KestrelCase{"OtherSelector", R"(3,200,"0x1")", 1, 0, {}},
        KestrelCase{"NegativeValue", R"(1,-5,"0x1")", 1, 5, {}},
        KestrelCase{"Round201", R"(1,201,"0x80")", 1, 0, {{Tx3gPowerAt(1, 7), 321}}}),
    CaseName<KestrelCase>);

TEST(KestrelReadBack, FiveThreeGLinesAndTwentyFourFourGLinesOfTheChosenTable) {
  ProfilePowerImage image{};
  for (unsigned t = 0; t < 3; ++t) {
    for (std::size_t b = 0; b < kKestrel3GBands; ++b) PutU16(image.data() + Tx3gPowerAt(t, b), 100 * t + b);
    for (std::size_t b = 0; b < kKestrel4GBands; ++b) PutU16(image.data() + Tx4gPowerAt(t, b), 1000 + b);
  }
  PutU16(image.data() + Tx3gPowerAt(1, 4), 321);
  const std::string text = KestrelReadBackText(image, 1);
  ASSERT_EQ(text.rfind("+BODYSAR:\r\n", 0), 0u) << text;
  ASSERT_GE(text.size(), 4u);
  EXPECT_EQ(text.substr(text.size() - 4), "OK\r\n");
  // 3G: bands 1, 2, 4, 5, 8 at indexes 0, 1, 3, 4, 7 of table 1.
  EXPECT_NE(text.find("+BODYSAR:\r\n1,62,\"0x1\"\r\n1,63,\"0x2\"\r\n1,64,\"0x8\"\r\n1,200,\"0x10\"\r\n1,66,\"0x80\"\r\n2,625,\"0x1\"\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("2,665,\"0x20000000000000000\"\r\nOK\r\n"), std::string::npos) << text;  // (1000+65)*10/16
  std::size_t lines = 0;
  for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++lines;
  EXPECT_EQ(lines, 1u + 5u + 24u + 1u);
  EXPECT_EQ(KestrelReadBackText(image, 3), "");
}

// ---- Osprey record ---------------------------------------------------------------------------------

struct Element {
  std::uint16_t band, second, a, b, c, d;
};

MaxTxPwrRecord OspreyRecord(const std::vector<Element>& g3, const std::vector<Element>& g4) {
  MaxTxPwrRecord r{};
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 13 + 5);
  PutU16(r.data() + k3gCountAt, static_cast<std::uint16_t>(g3.size()));
  PutU16(r.data() + k4gCountAt, static_cast<std::uint16_t>(g4.size()));
  auto put = [&](std::size_t at, const Element& e) {
    const std::uint16_t w[] = {e.band, e.second, e.a, e.b, e.c, e.d};
    for (int k = 0; k < 6; ++k) PutU16(r.data() + at + 2 * k, w[k]);
  };
  for (std::size_t i = 0; i < g3.size(); ++i) put(Element3gAt(i), g3[i]);
  for (std::size_t j = 0; j < g4.size(); ++j) put(Element4gAt(j), g4[j]);
  return r;
}

Element ElementAt(const MaxTxPwrRecord& r, std::size_t at) {
  auto w = [&](int k) { return GetU16(r.data() + at + 2 * k); };
  return {w(0), w(1), w(2), w(3), w(4), w(5)};
}

// The modem's factory layout: 3G bands 1, 2, 4, 5, 8, 6; 4G with band 5 twice, then elements of
// bands no text names, up to the 45 a set states.
MaxTxPwrRecord Factory() {
  std::vector<Element> g3;
  for (std::uint16_t band : {1, 2, 4, 5, 8, 6}) g3.push_back({band, 0, 376, 376, 376, 376});
  std::vector<Element> g4;
  for (std::uint16_t band : {1, 2, 3, 4, 5, 5, 7, 66}) g4.push_back({band, 0, 368, 368, 368, 368});
  while (g4.size() < 45) g4.push_back({static_cast<std::uint16_t>(1000 + g4.size()), 0, 368, 368, 368, 368});
  return OspreyRecord(g3, g4);
}

int ApplyOsprey(const std::string& text, MaxTxPwrRecord* record) {
  return ApplyOspreyValueLists(ParseOspreyValueLists(text), record);
}

bool AllPorts(const Element& e, std::uint16_t v) { return e.a == v && e.b == v && e.c == v && e.d == v; }

TEST(OspreyApply, Band5ReachesItsElementAndTheSixthElementOnly) {
  MaxTxPwrRecord r = Factory();
  const MaxTxPwrRecord before = r;
  ASSERT_EQ(ApplyOsprey(R"(1,220,"0x10")", &r), 0);
  for (std::size_t i = 0; i < 6; ++i) {
    const Element e = ElementAt(r, Element3gAt(i));
    EXPECT_EQ(e.band, ElementAt(before, Element3gAt(i)).band);
    EXPECT_EQ(e.second, 0);
    EXPECT_TRUE(AllPorts(e, (i == 3 || i == 5) ? 352 : 376)) << "element " << i;
  }
  for (std::size_t j = 0; j < 8; ++j) EXPECT_TRUE(AllPorts(ElementAt(r, Element4gAt(j)), 368)) << j;
}

TEST(OspreyApply, FourGMask0x10IsBand5InEveryElementOfThatBand) {
  MaxTxPwrRecord r = Factory();
  ASSERT_EQ(ApplyOsprey(R"(2,230,"0x10")", &r), 0);
  EXPECT_TRUE(AllPorts(ElementAt(r, Element4gAt(4)), 368));
  EXPECT_TRUE(AllPorts(ElementAt(r, Element4gAt(5)), 368));
  ASSERT_EQ(ApplyOsprey(R"(2,200,"0x10")", &r), 0);
  EXPECT_TRUE(AllPorts(ElementAt(r, Element4gAt(4)), 320));
  EXPECT_TRUE(AllPorts(ElementAt(r, Element4gAt(5)), 320));
  EXPECT_TRUE(AllPorts(ElementAt(r, Element4gAt(3)), 368));
  EXPECT_TRUE(AllPorts(ElementAt(r, Element3gAt(3)), 376));  // 3G untouched
  EXPECT_TRUE(AllPorts(ElementAt(r, Element3gAt(5)), 376));
}

TEST(OspreyApply, CountsAreForcedAndNothingElseMovesForTextsThatChangeNoValue) {
  for (const char* text : {"1", R"(3,200,"0x1")", R"(,200,"0x1")", R"(1,200,"0x010")", R"(1,200, "0x1")", ""}) {
    MaxTxPwrRecord r = Factory();
    MaxTxPwrRecord expected = r;
    PutU16(expected.data() + k3gCountAt, 6);
    PutU16(expected.data() + k4gCountAt, 45);
    EXPECT_EQ(ApplyOsprey(text, &r), 0) << text;
    EXPECT_TRUE(r == expected) << text;
  }
}

TEST(OspreyApply, RefusedValuesLeaveTheRecordAsItWas) {
  const struct {
    const char* text;
    int result;
  } cases[] = {
      {R"(1,236,"0x1")", 5},                 // above the 3G limit
      {R"(1,236,"0x10")", 5},                // band 5 and its mirror
      {R"(1,-1,"0x2")", 5},                  // negative
      {R"(2,231,"0x1")", 5},                 // above the 4G limit
      {R"(1,200,"0x1",236,"0x8")", 5},       // one bad pair refuses all
      {R"(1,300,"0x800")", 0},               // band 12: no 3G element carries it, not tested
      {R"(2,300,"0x20000000000")", 0},       // band 42: not in the record
  };
  for (const auto& c : cases) {
    MaxTxPwrRecord r = Factory();
    MaxTxPwrRecord expected = r;
    if (c.result == 0) {
      PutU16(expected.data() + k3gCountAt, 6);
      PutU16(expected.data() + k4gCountAt, 45);
    }
    EXPECT_EQ(ApplyOsprey(c.text, &r), c.result) << c.text;
    EXPECT_TRUE(r == expected) << c.text;
  }
}

TEST(OspreyApply, LaterValueWins) {
  MaxTxPwrRecord r = Factory();
  ASSERT_EQ(ApplyOsprey(R"(1,200,"0x10",150,"0x10")", &r), 0);
  EXPECT_TRUE(AllPorts(ElementAt(r, Element3gAt(3)), 240));
  EXPECT_TRUE(AllPorts(ElementAt(r, Element3gAt(5)), 240));
}

TEST(OspreyReadBack, EachBandOnceBand6LeftOutOf3GAndPortAOnly) {
  const MaxTxPwrRecord r = OspreyRecord(
      {{1, 0, 321, 1, 1, 1}, {6, 0, 376, 0, 0, 0}, {1, 0, 100, 0, 0, 0}, {11, 0, 300, 0, 0, 0}, {5, 7, 0xFFEF, 0, 0, 0}},
      {{66, 0, 368, 0, 0, 0}, {6, 0, 320, 0, 0, 0}, {66, 4, 1, 0, 0, 0}});
  EXPECT_EQ(OspreyReadBackText(r),
            "+BODYSAR:\r\n1,200,\"0x1\"\r\n1,-10,\"0x10\"\r\n2,230,\"0x20000000000000000\"\r\n2,200,\"0x10\"\r\nOK\r\n");
}

TEST(OspreyReadBack, CountsBeyondTheRecordAreBoundedAndTheTextStaysSmall) {
  // Every Osprey band in both sections, then counts far above the capacities.
  std::vector<Element> g3, g4;
  for (const BandRow& row : OspreyBandTable()) {
    g3.push_back({row.number, 0, 0x7FFF, 0, 0, 0});
    g4.push_back({row.number, 0, 0x8000, 0, 0, 0});
  }
  MaxTxPwrRecord r = OspreyRecord(g3, g4);
  PutU16(r.data() + k3gCountAt, 0xFFFF);
  PutU16(r.data() + k4gCountAt, 0xFFFF);
  const std::string text = OspreyReadBackText(r);
  EXPECT_LT(text.size(), 2700u);
  EXPECT_NE(text.find("1,20479,\"0x1\"\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("2,-20480,\"0x20000000000000000\"\r\n"), std::string::npos) << text;
}

// Every Osprey band that a text can name comes back as the line that names it.
TEST(OspreyRoundTrip, EveryBandReadsBackAsItsOwnLine) {
  std::vector<Element> g3, g4;
  for (const BandRow& row : OspreyBandTable()) {
    if (g3.size() < 6) g3.push_back({row.number, 0, 0, 0, 0, 0});
    g4.push_back({row.number, 0, 0, 0, 0, 0});
  }
  for (const BandRow& row : OspreyBandTable()) {
    if (row.number == 6) continue;
    for (int tech : {1, 2}) {
      if (tech == 1 && row.number > 5) continue;  // only the first six bands carry 3G elements here
      MaxTxPwrRecord r = OspreyRecord(g3, g4);
      const std::string line = std::to_string(tech) + ",201,\"0x" + std::string(row.mask) + "\"";
      ASSERT_EQ(ApplyOsprey(line, &r), 0) << line;
      PutU16(r.data() + k4gCountAt, static_cast<std::uint16_t>(g4.size()));
      const std::string expected = std::to_string(tech) + ",200,\"0x" + std::string(row.mask) + "\"\r\n";
      EXPECT_NE(OspreyReadBackText(r).find(expected), std::string::npos) << line;
    }
  }
}

// ---- The get_BodySarValue buffer --------------------------------------------------------------------

TEST(BodySarValueBuffer, NeverWritesPastItsBound) {
  const struct {
    std::size_t length;
    bool fits;
  } cases[] = {{0, true}, {2699, true}, {kBodySarValueTextBytes - 1, true}, {kBodySarValueTextBytes, false},
               {3 * kBodySarValueTextBytes, false}};
  for (const auto& c : cases) {
    std::vector<char> memory(kBodySarValueTextBytes + 64, '#');
    const std::string text(c.length, 'x');
    EXPECT_EQ(CopyBodySarValueText(text, memory.data()), c.fits) << c.length;
    const std::size_t written = std::min(c.length, kBodySarValueTextBytes - 1);
    EXPECT_EQ(std::strlen(memory.data()), written);
    for (std::size_t i = written + 1; i < memory.size(); ++i) ASSERT_EQ(memory[i], '#') << c.length << " at " << i;
  }
}

}  // namespace
