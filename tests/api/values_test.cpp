// The body-SAR value tables without a modem: band tables, table-text parsing, the changes a text
// makes to each family's record, the read-back text, and the bound on what get_BodySarValue writes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/identify/identify.h"
#include "api/values/value_records.h"
#include "api/values/value_text.h"
#include "platform/bytes.h"
#include "platform/mbn.h"
#include "platform/text.h"
#include "sim/testing.h"
#include "tests/bridge/test_support.h"

namespace {

using namespace krill;

// One 16-bit word of a record, as the tests set and read them.
void PutU16(std::uint8_t* at, std::uint16_t v) { plat::LeWriter(std::span(at, 2)).U16(0, v); }
std::uint16_t GetU16(const std::uint8_t* at) { return plat::LeReader(std::span(at, 2)).U16(0); }

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

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

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
  // Only plain decimal digits are a value; anything else, and any number past 16 bits however
  // long, is held above every limit rather than wrapped or read as far as it goes.
  const std::pair<const char*, std::uint16_t> values[] = {
      {"235", 235},
      {"07", 7},
      {"0", 0},
      {"0000000000000000000000200", 200},  // 25 digits, but only 200
      {"-1", 0xFFFF},
      {"65771", 0xFFFF},                    // 235 once cut to 16 bits
      {"65736", 0xFFFF},                    // 200 once cut to 16 bits
      {"4294967496", 0xFFFF},               // 200 once cut to 32 bits
      {"1000000000000000000000200", 0xFFFF},
      {"abc", 0xFFFF},
      {"", 0xFFFF},
      {"2E5", 0xFFFF},
      {"+200", 0xFFFF},
      {" 200", 0xFFFF},
      {"200 ", 0xFFFF},
      {"0x10", 0xFFFF},
      {"20.5", 0xFFFF}};
  for (const auto& [text, value] : values) {
    std::vector<KestrelValueEntry> entries;
    ParseKestrelValueText(std::string("2,") + text + R"(,"0x1")", &entries);
    ASSERT_EQ(entries.size(), 1u) << text;
    EXPECT_EQ(entries[0].value, value) << "'" << text << "'";
    EXPECT_FALSE(entries[0].matched);  // matching belongs to the list builder
  }
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

void PrintTo(const KestrelCase& c, std::ostream* os) { *os << c.name; }

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
        KestrelCase{"LettersAreNoValue", R"(2,abc,"0x1")", 1, 5, {}},
        KestrelCase{"EmptyValue", R"(2,,"0x4")", 1, 5, {}},
        KestrelCase{"ExponentIsNoValue", R"(2,2E5,"0x2")", 1, 5, {}},
        KestrelCase{"SixteenBitWrapIsRefused", R"(2,65736,"0x1")", 1, 5, {}},
        KestrelCase{"TwentyFiveDigits", R"(2,1000000000000000000000200,"0x1")", 1, 5, {}},
        KestrelCase{"BadValueOfAnUnmatchedEntryRefusesTheWholeText", R"(2,200,"0x1",abc,"0x4000")", 1, 5, {}},
        KestrelCase{"BadValueAfterGoodOnesWritesNone", R"(1,200,"0x1",190,"0x2",+205,"0x8")", 1, 5, {}},
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
      {R"(1,300,"0x800")", 5},               // band 12: no 3G element carries it, still tested
      {R"(2,300,"0x20000000000")", 5},       // band 42: not in the record, still tested
      {R"(2,200,"0x4000",231,"0x1")", 5},    // mask of no band, value tested all the same
      {R"(2,abc,"0x1")", 5},                 // not a number
      {R"(2,,"0x4")", 5},                    // no value at all
      {R"(2,2E5,"0x2")", 5},                 // an exponent is no plain number
      {R"(2,+200,"0x1")", 5},                // nor a sign
      {R"(2, 200,"0x1")", 5},                // nor a blank
      {R"(2,0xC8,"0x1")", 5},                // nor hexadecimal
      {R"(2,65736,"0x1")", 5},               // 200 once cut to 16 bits
      {R"(2,4294967496,"0x1")", 5},          // 200 once cut to 32 bits
      {R"(2,1000000000000000000000200,"0x1")", 5},  // 25 digits
      {R"(2,200,"0x1",abc,"0x2")", 5},       // the good entry before is not written either
      {R"(1,200,"0x800")", 0},               // a good value for a band no element carries changes nothing
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

// ---- The exports, on both roads ---------------------------------------------------------------------
//
// The bridge road runs against a stand-in for the bridge's entry points that keeps one family's
// table image; the identification and the direct road run against the simulated modem.

struct FakeBridge {
  int probe = 0;  // result of "at\r\n"
  int read = 0;   // result of a table query (the image is copied only on 0)
  int write = 0;  // result of a table write (the image is kept only on 0)
  unsigned profile = 1;
  std::vector<std::uint8_t> osprey = std::vector<std::uint8_t>(vexel::OspreyPowerTable::kSize);
  std::vector<std::uint8_t> kestrel = std::vector<std::uint8_t>(vexel::KestrelTableSet::kSize);
  std::vector<std::string> commands;
  int reads = 0;
  int writes = 0;
};
FakeBridge* g_bridge = nullptr;

int FakeEntry(bool kestrel, const char16_t* command, char16_t* out, int* length, void* table) {
  std::string c = plat::Utf16ToUtf8(command);
  for (char& ch : c) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  g_bridge->commands.push_back(c);
  auto reply = [&](const std::u16string& text) {
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = u'\0';
    *length = static_cast<int>(text.size());
  };
  auto& store = kestrel ? g_bridge->kestrel : g_bridge->osprey;
  auto* bytes = static_cast<std::uint8_t*>(table) +
                (kestrel ? vexel::ProfilePowerImage::kTableOffset : vexel::MaxTxPwrRecord::kTableOffset);
  if (c == "at\r\n") {
    reply(g_bridge->probe == 0 ? u"OK" : u"ERROR");
    return g_bridge->probe;
  }
  if (c.find("at+bodysarprofile?") != std::string::npos) {
    reply(plat::Utf8ToUtf16(std::to_string(g_bridge->profile)));
    return 0;
  }
  if (c.find("at+bodysar=") != std::string::npos) {
    if (g_bridge->write) return g_bridge->write;
    std::memcpy(store.data(), bytes, store.size());
    ++g_bridge->writes;
    reply(u"OK");
    return 0;
  }
  if (c.find("at+bodysar?") != std::string::npos) {
    if (g_bridge->read) return g_bridge->read;
    std::memcpy(bytes, store.data(), store.size());
    ++g_bridge->reads;
    reply(u"OK");
    return 0;
  }
  return 50;
}
int FakeOsprey(const char16_t* c, char16_t* o, int* l, void* t) { return FakeEntry(false, c, o, l, t); }
int FakeKestrel(const char16_t* c, char16_t* o, int* l, void* t) { return FakeEntry(true, c, o, l, t); }

const std::u16string kAtService = u"{ffffffff-abca-4b11-a4e2-f2fc87f94488}";

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::testing::ResetAll();
    // Earlier tests in this process may have identified a module or bound the real bridge.
    krill::ntype = kTypeUnknown;
    krill::vexelAtSendFun = nullptr;
    krill::KestrelVexelAtSendFun = nullptr;
    ForgetManager();
    g_bridge = &bridge_;
    const MaxTxPwrRecord factory = Factory();
    std::copy(factory.begin() + 6, factory.begin() + 6 + bridge_.osprey.size(), bridge_.osprey.begin());
    for (std::size_t i = 0; i < bridge_.kestrel.size(); ++i) bridge_.kestrel[i] = static_cast<std::uint8_t>(i * 11 + 1);
    buffer_.assign(kBodySarValueTextBytes + 64, '#');
  }
  void TearDown() override {
    krill::ntype = kTypeUnknown;
    krill::vexelAtSendFun = nullptr;
    krill::KestrelVexelAtSendFun = nullptr;
    g_bridge = nullptr;
    sim::testing::ResetAll();
  }
  // The notebook's manager object keeps the modem as it was when it was made: each change of
  // modem.ini starts with a new one.
  static void ForgetManager() {
    if (krill::g_InterfaceManager) krill::g_InterfaceManager->Release();
    krill::g_InterfaceManager = nullptr;
  }
  void Osprey(const std::string& ini = "") {
    txltest::WriteFile(machine_.ModemIni(), "[module]\nfamily=osprey\n" + ini);
    ForgetManager();
    krill::ntype = kTypeOsprey;
    krill::vexelAtSendFun = FakeOsprey;
  }
  void Kestrel(const std::string& ini = "") {
    txltest::WriteFile(machine_.ModemIni(), "[module]\nfamily=kestrel\n" + ini);
    ForgetManager();
    krill::ntype = kTypeKestrel;
    krill::KestrelVexelAtSendFun = FakeKestrel;
  }
  // The bridge stored image, as a record the library would see.
  MaxTxPwrRecord OspreyStored() const {
    MaxTxPwrRecord r{};
    std::copy(bridge_.osprey.begin(), bridge_.osprey.end(), r.begin() + 6);
    return r;
  }
  std::uint16_t KestrelStoredWord(std::size_t image_offset) const {
    return GetU16(bridge_.kestrel.data() + image_offset - vexel::ProfilePowerImage::kTableOffset);
  }
  std::string Text() const { return std::string(buffer_.data()); }
  // No byte past the get_BodySarValue bound was touched.
  bool GuardIntact() const {
    for (std::size_t i = kBodySarValueTextBytes; i < buffer_.size(); ++i)
      if (buffer_[i] != '#') return false;
    return true;
  }
  static std::vector<std::string> AtTexts() {
    std::vector<std::string> texts;
    for (const auto& r : sim::testing::Requests())
      if (r.op == "set" && r.service == kAtService) texts.emplace_back(r.data.begin(), r.data.end());
    return texts;
  }
  static int Set(std::string text) { return set_BodySarValue(text.data()); }

  FakeBridge bridge_;
  std::vector<char> buffer_;
  txltest::TempDir dir_;
  txltest::MachineDirScope machine_{dir_.path()};
};

TEST_F(ExportsTest, NotIdentifiedFailsWithFiveAndSendsNothing) {
  txltest::WriteFile(machine_.ModemIni(), "[module]\nfamily=osprey\n");
  krill::vexelAtSendFun = FakeOsprey;
  EXPECT_EQ(Set(R"(1,200,"0x1")"), 5);
  EXPECT_EQ(get_BodySarValue(buffer_.data()), 5);
  EXPECT_TRUE(bridge_.commands.empty());
  EXPECT_TRUE(sim::testing::Requests().empty());
  EXPECT_EQ(buffer_[0], '#');
}

TEST_F(ExportsTest, OspreyBridgeBand5ReachesItsElementAndTheMirrorAndReadsBackOnce) {
  Osprey();
  ASSERT_EQ(Set(R"(1,220,"0x10")"), 0);
  EXPECT_EQ(bridge_.reads, 1);
  EXPECT_EQ(bridge_.writes, 1);
  const MaxTxPwrRecord stored = OspreyStored();
  EXPECT_EQ(GetU16(stored.data() + k3gCountAt), 6);
  EXPECT_EQ(GetU16(stored.data() + k4gCountAt), 45);
  for (std::size_t i = 0; i < 6; ++i)
    EXPECT_TRUE(AllPorts(ElementAt(stored, Element3gAt(i)), (i == 3 || i == 5) ? 352 : 376)) << i;
  EXPECT_TRUE(AtTexts().empty());  // the bridge road sends nothing on the own channel

  ASSERT_EQ(get_BodySarValue(buffer_.data()), 0);
  const std::string text = Text();
  EXPECT_EQ(text.rfind("+BODYSAR:\r\n1,235,\"0x1\"\r\n1,235,\"0x2\"\r\n1,235,\"0x8\"\r\n1,220,\"0x10\"\r\n1,235,\"0x80\"\r\n2,",
                       0),
            0u)
      << text;
  // Band 5 once per section; the band-6 element adds no line.
  std::size_t band5_lines = 0;
  for (std::size_t p = text.find("\"0x10\""); p != std::string::npos; p = text.find("\"0x10\"", p + 1)) ++band5_lines;
  EXPECT_EQ(band5_lines, 2u) << text;
  EXPECT_NE(text.find("\r\n2,230,\"0x10\"\r\n"), std::string::npos) << text;
  EXPECT_TRUE(GuardIntact());
}

TEST_F(ExportsTest, OspreyBridgeRefusalsAndFailures) {
  const struct {
    const char* name;
    std::string text;
    int read, write;
    int result;
    int writes;
  } cases[] = {
      {"above the limit", R"(1,236,"0x1")", 0, 0, 5, 0},
      {"read fails", R"(1,200,"0x1")", static_cast<int>(0x80004005), 0, 5, 0},
      {"write fails", R"(1,200,"0x1")", 0, 50, 3, 0},
      {"no comma", "1", 0, 0, 0, 1},
      {"other selector", R"(7,200,"0x1")", 0, 0, 0, 1},
  };
  for (const auto& c : cases) {
    bridge_ = FakeBridge{};
    const MaxTxPwrRecord factory = Factory();
    std::copy(factory.begin() + 6, factory.begin() + 6 + bridge_.osprey.size(), bridge_.osprey.begin());
    bridge_.read = c.read;
    bridge_.write = c.write;
    Osprey();
    EXPECT_EQ(Set(c.text), c.result) << c.name;
    EXPECT_EQ(bridge_.writes, c.writes) << c.name;
    MaxTxPwrRecord expected = factory;
    if (c.writes) {
      PutU16(expected.data() + k3gCountAt, 6);
      PutU16(expected.data() + k4gCountAt, 45);
    }
    const MaxTxPwrRecord stored = OspreyStored();
    EXPECT_TRUE(std::equal(stored.begin() + 6, stored.begin() + vexel::MaxTxPwrRecord::kSize, expected.begin() + 6))
        << c.name;
  }
  bridge_.read = static_cast<int>(0x80004005);
  EXPECT_EQ(get_BodySarValue(buffer_.data()), 3);
  EXPECT_EQ(buffer_[0], '#');
}

TEST_F(ExportsTest, OspreyCountsFromTheModemAboveCapacityReadNoFurtherThanTheRecord) {
  Osprey();
  PutU16(bridge_.osprey.data() + vexel::OspreyPowerTable::k3gCount, 0xFFFF);
  PutU16(bridge_.osprey.data() + vexel::OspreyPowerTable::k4gCount, 0xFFFF);
  ASSERT_EQ(get_BodySarValue(buffer_.data()), 0);
  EXPECT_LT(Text().size(), 2700u);
  EXPECT_TRUE(GuardIntact());
}

TEST_F(ExportsTest, ProbeFailureIsReturnedUnchanged) {
  Osprey();
  bridge_.probe = static_cast<int>(0x80004005);
  EXPECT_EQ(Set(R"(1,200,"0x1")"), 3);
  EXPECT_EQ(get_BodySarValue(buffer_.data()), 3);
  EXPECT_EQ(bridge_.commands, (std::vector<std::string>{"at\r\n", "at\r\n"}));
}

TEST_F(ExportsTest, KestrelBridgeWritesTheActiveProfileTableOnly) {
  struct Case {
    std::string text;
    unsigned profile;
    int result;
    std::size_t at;  // image offset of the word that changes
    std::uint16_t value;
  };
  const Case cases[] = {
      {R"(1,235,"0x10")", 1, 0, Tx3gPowerAt(1, 4), 376},
      {R"(1,235,"0x10")", 0, 0, Tx3gPowerAt(0, 4), 376},
      {R"(2,230,"0x20000000000000000")", 2, 0, Tx4gPowerAt(2, 65), 368},
      {R"(1,236,"0x10")", 1, 5, 0, 0},
      {R"(1,200,"0x1")", 3, 5, 0, 0},
  };
  for (const Case& c : cases) {
    bridge_ = FakeBridge{};
    for (std::size_t i = 0; i < bridge_.kestrel.size(); ++i) bridge_.kestrel[i] = static_cast<std::uint8_t>(i * 11 + 1);
    const std::vector<std::uint8_t> before = bridge_.kestrel;
    bridge_.profile = c.profile;
    Kestrel();
    EXPECT_EQ(Set(c.text), c.result) << c.text << " profile " << c.profile;
    EXPECT_EQ(bridge_.writes, c.result == 0 ? 1 : 0);
    std::vector<std::uint8_t> expected = before;
    if (c.result == 0) PutU16(expected.data() + c.at - vexel::ProfilePowerImage::kTableOffset, c.value);
    EXPECT_EQ(bridge_.kestrel, expected) << c.text << " profile " << c.profile;
  }
}

TEST_F(ExportsTest, KestrelBridgeReadBackOfTheActiveProfile) {
  Kestrel();
  PutU16(bridge_.kestrel.data() + Tx3gPowerAt(1, 4) - 4, 321);
  PutU16(bridge_.kestrel.data() + Tx4gPowerAt(1, 65) - 4, 368);
  ASSERT_EQ(get_BodySarValue(buffer_.data()), 0);
  const std::string text = Text();
  EXPECT_NE(text.find("\r\n1,200,\"0x10\"\r\n1,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n2,230,\"0x20000000000000000\"\r\nOK\r\n"), std::string::npos) << text;
  EXPECT_EQ(KestrelStoredWord(Tx3gPowerAt(1, 4)), 321);  // a get writes nothing
  EXPECT_EQ(bridge_.writes, 0);

  bridge_.profile = 3;
  buffer_.assign(buffer_.size(), '#');
  EXPECT_EQ(get_BodySarValue(buffer_.data()), 5);
  EXPECT_EQ(buffer_[0], '#');
}

// Direct road: the bridge answers its probe with "not supported", the own channel carries the text.
TEST_F(ExportsTest, OspreyDirectWriteRunsTheBand5WorkaroundAndReadsTheModemsText) {
  Osprey();
  bridge_.probe = 50;
  const std::string table = R"(1,200,"0x1",190,"0x2",205,"0x8",220,"0x10")";
  ASSERT_EQ(Set(table), 0);
  const auto sent = AtTexts();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[0], "AT+BODYSAR = " + table + "\r\n");
  EXPECT_EQ(sent[1], "at+GTBAND5WA\r\n");
  EXPECT_EQ(sent[sent.size() - 2],
            "at@nvm:cal_mtpm.mtpm_tx_power_table[1].max_tx_pwr_3g.overrideVals[5].override_portA=352\r\n");
  EXPECT_EQ(bridge_.writes, 0);

  sim::testing::ResetAll();
  ASSERT_EQ(get_BodySarValue(buffer_.data()), 0);
  EXPECT_EQ(AtTexts(), (std::vector<std::string>{"AT+BODYSAR?\r\n"}));
  const std::string text = Text();
  EXPECT_EQ(text.rfind("+BODYSAR:", 0), 0u) << text;
  EXPECT_NE(text.find("1,220,\"0x10\"\r\n"), std::string::npos) << text;
}

// The modem parses the text on this road, and its reply decides both exports' results; a read
// that fails leaves the caller's buffer as it was.
TEST_F(ExportsTest, DirectRoadReplies) {
  const std::string kSent = "AT+BODYSAR = 1,200,\"0x1\"\r\n";
  const std::string kValueText = R"(\r\n+BODYSAR:\r\n1,200,\"0x1\"\r\n)";
  const struct {
    const char* name;
    std::uint32_t type;
    std::string ini;  // its AT+BODYSAR reply also answers the read "AT+BODYSAR?"
    int set_result;
    std::vector<std::string> set_sent;
    int get_result;
    const char* get_text;  // null: the buffer is left as it was
  } cases[] = {
      {"kestrel refused", kTypeKestrel, "[at_replies]\nAT+BODYSAR = \\r\\nERROR\\r\\n\n", 4, {kSent}, 4, nullptr},
      {"osprey without OK: no work-around", kTypeOsprey, "[at_replies]\nAT+BODYSAR = \\r\\nBUSY\\r\\n\n", 4, {kSent},
       4, nullptr},
      {"kestrel with OK: no work-around, no value text", kTypeKestrel,
       "[at_replies]\nAT+BODYSAR = \\r\\nOK\\r\\n\n", 0, {kSent}, 4, nullptr},
      {"other module refused", kTypeOther, "[at_replies]\nAT+BODYSAR = \\r\\nERROR\\r\\n\n", 4,
       {"AT+BODYSAR = 1,200,\"0x1\""}, 4, nullptr},
      {"other module: no line end, no OK needed to set", kTypeOther, "[at_replies]\nAT+BODYSAR = \\r\\nBUSY\\r\\n\n",
       0, {"AT+BODYSAR = 1,200,\"0x1\""}, 4, nullptr},
      {"value text without OK", kTypeKestrel, "[at_replies]\nAT+BODYSAR = " + kValueText + "\n", 4, {kSent}, 4,
       nullptr},
      {"value text, OK and ERROR", kTypeOsprey,
       "[at_replies]\nAT+BODYSAR = " + kValueText + R"(\r\nOK\r\nERROR\r\n)" + "\n", 4, {kSent}, 4, nullptr},
      {"value text and OK", kTypeKestrel, "[at_replies]\nAT+BODYSAR = " + kValueText + R"(\r\nOK\r\n)" + "\n", 0,
       {kSent}, 0, "+BODYSAR:\r\n1,200,\"0x1\"\r\n\r\nOK\r\n"},
      {"channel reply empty", kTypeOsprey, "[faults]\nempty=at_command:set\n", 4, {kSent}, 4, nullptr},
  };
  for (const auto& c : cases) {
    sim::testing::ResetAll();
    bridge_ = FakeBridge{};
    bridge_.probe = 50;
    if (c.type == kTypeKestrel) Kestrel(c.ini); else Osprey(c.ini);
    krill::ntype = c.type;
    EXPECT_EQ(Set(R"(1,200,"0x1")"), c.set_result) << c.name;
    EXPECT_EQ(AtTexts(), c.set_sent) << c.name;
    buffer_.assign(buffer_.size(), '#');
    EXPECT_EQ(get_BodySarValue(buffer_.data()), c.get_result) << c.name;
    if (c.get_text)
      EXPECT_EQ(Text(), c.get_text) << c.name;
    else
      EXPECT_EQ(buffer_[0], '#') << c.name;
    EXPECT_TRUE(GuardIntact()) << c.name;
  }
}

TEST_F(ExportsTest, DirectRoadBoundsOnBothExports) {
  Osprey("[at_replies]\nAT+BODYSAR? = \\r\\nno table here\\r\\nOK\\r\\n\n");
  bridge_.probe = 50;
  // A command that would not fit its 4096-byte buffer is refused before anything is sent.
  std::string longest = "1," + std::string(4096 - 16, '9') + ",\"0x1\"";
  EXPECT_EQ(Set(longest), 5);
  EXPECT_TRUE(AtTexts().empty());
  // A reply without "+" leaves the caller's buffer as it was.
  EXPECT_EQ(get_BodySarValue(buffer_.data()), 4);
  EXPECT_EQ(buffer_[0], '#');
  // So does a value text that would not fit the buffer: it is refused whole, not cut.
  Osprey("[at_replies]\nAT+BODYSAR? = +BODYSAR:" + std::string(kBodySarValueTextBytes, '7') + "\\r\\nOK\\r\\n\n");
  EXPECT_EQ(get_BodySarValue(buffer_.data()), 4);
  EXPECT_EQ(buffer_[0], '#');
  EXPECT_TRUE(GuardIntact());
}

// ---- End to end -----------------------------------------------------------------------------------

// The built library as a client meets it: a program, krillTXLApi and the real VexelSarDll copied into
// a folder of their own, run as a separate process against a fresh default notebook (an Osprey
// module whose bridge road is open).
TEST(ValueClient, BesideTheRealBridgeWritesAndReadsBackTheTable) {
  namespace fs = std::filesystem;
  txltest::TempDir dir;
  const fs::path host = dir.path() / "host";
  fs::create_directories(host);
  fs::copy_file(KRILL_CLIENT, host / "krill_client");
  fs::copy_file(KRILL_LIBRARY, host / fs::path(KRILL_LIBRARY).filename());
  fs::copy_file(fs::path(TXL_BIN_DIR) / "VexelSarDll.so", host / "VexelSarDll.so");
  const fs::path out = dir.path() / "out.txt";
  const std::string cmd = "cd / && env TXL_MACHINE_DIR='" + (dir.path() / "machine").string() + "' '" +
                          (host / "krill_client").string() +
                          R"(' ready 'set-value=1,200,"0x1",190,"0x2",205,"0x8",220,"0x10"' get-value > ')" +
                          out.string() + "' 2>/dev/null";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
  std::vector<std::string> calls;
  for (const auto& line : txltest::Lines(txltest::ReadFile(out)))
    if (line.rfind("ready ", 0) == 0 || line.rfind("set-value", 0) == 0 || line.rfind("get-value", 0) == 0)
      calls.push_back(line);
  ASSERT_EQ(calls.size(), 3u) << txltest::ReadFile(out);
  EXPECT_EQ(calls[0], "ready -> 0 1");
  EXPECT_EQ(calls[1], R"(set-value=1,200,"0x1",190,"0x2",205,"0x8",220,"0x10" -> 0)");
  EXPECT_EQ(calls[2].rfind(R"(get-value -> 0 +BODYSAR:\r\n1,200,"0x1"\r\n1,190,"0x2"\r\n1,205,"0x8"\r\n1,220,"0x10"\r\n2,)", 0),
            0u)
      << calls[2];
  EXPECT_EQ(calls[2].substr(calls[2].size() - 6), R"(OK\r\n)");
}

}  // namespace

