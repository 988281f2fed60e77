#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "parsers/celestrak.hpp"
#include "parsers/text.hpp"

using heliodex::CalendarDate;
using heliodex::DailyRecord;
namespace celestrak = heliodex::celestrak;
using celestrak::detail::Reader;

namespace {

// The wanted columns out of order, with one ignored column among them.
const std::string kHeader =
    "DATE,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,ISN,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,AP_AVG,"
    "F10.7_OBS,F10.7_ADJ";
const std::string kRow = "2000-01-02,1,2,3,4,5,6,7,8,x,11,12,13,14,15,16,17,18,20,150.5,151.5";

std::string replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

constexpr Reader kReaders[] = {Reader::wide, Reader::half_wide, Reader::portable};

std::vector<DailyRecord> ok(const std::string& text,
                            Reader reader = celestrak::detail::fastest_reader()) {
  auto r = celestrak::detail::parse_lines(text, reader);
  EXPECT_TRUE(r) << (r ? "" : r.error().message());
  return r ? *r : std::vector<DailyRecord>{};
}

// A value as its bit pattern, "nan" for any NaN, or "-" when absent.
std::string bits(const heliodex::Index& v) {
  std::ostringstream os;
  os << std::hex << std::bit_cast<std::uint64_t>(v.value_or(0));
  return !v ? "-" : std::isnan(*v) ? "nan" : os.str();
}

// A record as plain words, each value by its bit pattern: records compare fast as these.
std::vector<std::uint64_t> words(const DailyRecord& r) {
  std::vector<std::uint64_t> w{static_cast<std::uint64_t>(r.date.year) << 16 |
                               std::uint64_t{r.date.month} << 8 | r.date.day};
  heliodex::for_each_index(r, [&](const char*, const auto& field) {
    w.push_back(field.has_value());
    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, heliodex::Index>) {
      if (field) w.push_back(std::bit_cast<std::uint64_t>(*field));
    } else if (field) {
      for (const double v : *field) w.push_back(std::bit_cast<std::uint64_t>(v));
    }
  });
  return w;
}

std::string date_text(CalendarDate d) {
  return std::to_string(d.year) + '-' + std::to_string(d.month) + '-' + std::to_string(d.day);
}
// Every field of a record, values as bit patterns, so that records compare as text.
std::string describe(const DailyRecord& r) {
  std::string s = date_text(r.date);
  heliodex::for_each_index(r, [&](const char* name, const auto& field) {
    s += std::string(" ") + name + '=';
    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, heliodex::Index>)
      s += bits(field);
    else
      for (std::size_t k = 0; k < 8; ++k) s += field ? bits((*field)[k]) + ',' : "-";
  });
  return s;
}

struct ParseCase {
  std::string text, want;  // the whole error, "no records", or the first record's date
  friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.want; }
};

const std::string kBadHeader = "invalid or missing CSV header";
std::string at_row(int row) {
  return "parse error at row " + std::to_string(row) + ": invalid date";
}

std::vector<ParseCase> parse_cases() {
  std::vector<ParseCase> cases = {
      {"", kBadHeader}, {"\xFF" + kHeader, kBadHeader},
      {kHeader + "\n" + kRow + "\n\xC0\x80", kBadHeader},  // bad UTF-8 anywhere
      {kHeader + "\n2000-13-01\n" + kRow + "\n\xE2\x82\n", kBadHeader},  // even after a fault
      {"\n" + kHeader + "\n" + kRow, kBadHeader},           // a blank first line
      {"\xEF\xBB\xBF" + kHeader, kBadHeader},               // the BOM joins DATE
      {replace(kHeader, "DATE", "date"), kBadHeader},
      {replace(kHeader, "DATE", "\"DATE\""), kBadHeader},
      {replace(kHeader, "KP8", "KP9"), kBadHeader}, {replace(kHeader, "AP1,", "AP01,"), kBadHeader},
      {replace(kHeader, "AP_AVG", "APAVG"), kBadHeader},
      {replace(kHeader, "F10.7_OBS", "F10.7_0BS"), kBadHeader},
      {replace(kHeader, "F10.7_ADJ", "F10.7ADJ"), kBadHeader},
      // Blank lines of any kind are skipped but counted; the first fault ends the parse.
      {kHeader + "\n" + kRow + "\n\n \t\r\n\u3000\n2000-13-01", at_row(6)},
      {kHeader + "\n,,,,", at_row(2)}, {kHeader + "\n# note", at_row(2)},
      {kHeader + "\n" + kRow + "\n" + kRow + "\nx," + kRow, at_row(4)},
      {kHeader.substr(5) + ",DATE\n1,2", at_row(2)},  // too short for the date
      {kHeader, "no records"}, {kHeader + "\r\n", "no records"},
      {kHeader + "\n\n  \n\t", "no records"}};
  // Dates are read part by part. Ten-byte dates take a shortcut when they read YYYY-MM-DD; the
  // parts must come out the same as by the general rule, ten-byte texts of other shapes too.
  const char* const dates[][2] = {
      {"2000-1-2", "2000-1-2"}, {"+2000-+01-+02", "2000-1-2"}, {"02000-001-002", "2000-1-2"},
      {" 2000-01-02\t", "2000-1-2"}, {"2147483647-12-31", "2147483647-12-31"},
      {"0-02-30", "0-2-30"}, {"1999-12-31", "1999-12-31"}, {"0000000000002000-1-1", "2000-1-1"},
      {"0000-01-01", "0-1-1"}, {"9999-12-31", "9999-12-31"}, {"1957-10-01", "1957-10-1"},
      {"2000-02-30", "2000-2-30"}, {"2019-09-19", "2019-9-19"}, {"2000-1-011", "2000-1-11"},
      {"+200-01-01", "200-1-1"}, {"20-+1-+001", "20-1-1"}, {"2000-01-1 ", "2000-1-1"},
      {"2000-00-01", ""}, {"2000-13-01", ""}, {"2000-01-00", ""}, {"2000-01-32", ""},
      {"2000-01", ""}, {"2000-01-01-01", ""}, {"2000/01/01", ""}, {"2000-01-01T00", ""},
      {"2000- 01-01", ""}, {"2000-++1-01", ""}, {"2147483648-01-01", ""}, {"2000-256-01", ""},
      {"-1-01-01", ""}, {"", ""}, {"2000-1a-01", ""}, {"2000--01", ""}, {"20x0-01-01", ""},
      {"2000-01-0\u00A01", ""}};
  for (const auto& [date, want] : dates)
    cases.push_back({kHeader + "\n" + date + ",1", *want ? want : at_row(2)});
  return cases;
}

class CelestrakParse : public ::testing::TestWithParam<ParseCase> {};
TEST_P(CelestrakParse, FirstDateOrFirstFault) {
  const auto r = celestrak::parse(GetParam().text);
  EXPECT_EQ(!r ? r.error().message() : r->empty() ? "no records" : date_text(r->front().date),
            GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(Table, CelestrakParse, ::testing::ValuesIn(parse_cases()));

// The outcome of a parse as text: the error, or every record by its bits and the order flag.
std::string outcome(const heliodex::Result<std::vector<DailyRecord>>& r, bool ascending) {
  if (!r) return r.error().message();
  std::string s = ascending ? "ascending" : "not ascending";
  for (const DailyRecord& rec : *r) s += '\n' + describe(rec);
  return s;
}

// A file read a few bytes at a time, its lines and header cut anywhere, reads as one block.
TEST(CelestrakLoader, AnyBlockSizeReadsAsOneBlock) {
  std::vector<std::string> texts;
  for (const ParseCase& c : parse_cases()) texts.push_back(c.text);
  const std::string long_line = kRow + ',' + std::string(300, '7') + "\n";
  texts.push_back(kHeader + "\n" + kRow + "\r\n\n" + long_line + long_line + kRow);
  texts.push_back(kHeader + ",X" + std::string(500, ' ') + "\n" + long_line);
  texts.push_back(kHeader + "\n" + kRow + "\n" + replace(kRow, "2000-01-02", "1999-01-01"));
  texts.push_back(kHeader + "\n" + kRow + "\n" + kRow + "\n" + std::string(1, '\0') + "\n");
  for (const std::string& text : texts) {
    bool ascending = false;
    const auto r = celestrak::parse(text, &ascending);
    const std::string want = outcome(r, ascending);
    for (const std::size_t block : {1, 2, 3, 5, 8, 13, 64, 129}) {
      const auto b = celestrak::detail::parse_lines(text, celestrak::detail::fastest_reader(),
                                                    &ascending, block);
      ASSERT_EQ(outcome(b, ascending), want) << "block " << block << ", text:\n" << text;
    }
  }
}

// Bad UTF-8 or a bad header fails the file whatever follows, so the loader takes no more
// bytes once it has seen either; a bad date does not, since bad UTF-8 after it comes first.
TEST(CelestrakLoader, TakesNoMoreBytesOnceTheFileIsRefused) {
  std::string rows;
  for (int k = 0; k < 2000; ++k) rows += kRow + '\n';
  const struct {
    std::string head, want;
    bool refused;
  } cases[] = {{"\xFF" + kHeader + "\n", kBadHeader, true},
               {"DATE,AP1\n", kBadHeader, true},
               {kHeader + "\n" + kRow + "\n\xC0\x80\n", kBadHeader, true},
               {kHeader + "\n2000-13-01\n", at_row(2), false},
               {kHeader + "\n", "2000-1-2", false}};
  for (const auto& c : cases)
    for (const std::size_t block : {1, 7, 4096}) {
      const std::string text = c.head + rows;
      celestrak::Loader loader(text.size(), celestrak::detail::fastest_reader(), block);
      const std::size_t taken = heliodex::text::feed(loader, text, block);
      EXPECT_EQ(loader.refused(), c.refused) << c.head;
      EXPECT_LE(taken, c.refused ? c.head.size() + block - 1 : text.size()) << c.head;
      EXPECT_EQ(taken == text.size(), !c.refused) << c.head;
      const auto r = loader.finish();
      EXPECT_EQ(r ? date_text(r->front().date) : r.error().message(), c.want) << c.head;
    }
}

// The vector readers leave some lines to the portable reading, and stop where the record
// list is full: whatever the room reserved, and whichever lines they leave, every reader gives
// the same records.
TEST(CelestrakLoader, ReadersAgreeWhateverRoomTheListHas) {
  // A column after the wanted ones: the vector readers take lines whose wanted fields all
  // end in a comma.
  std::string text = kHeader + ",X\n";
  for (int k = 0; k < 3000; ++k) {
    std::string row = replace(kRow, "2000-01-02", "2000-01-" + std::to_string(1 + k % 28)) + ",0";
    if (k % 97 == 0) row += ',' + std::string(200 + k % 50, '7');  // no LF in 192 bytes
    else if (k % 89 == 0) row += ',' + std::string(100 + k % 40, '7');  // one in 128 to 191
    if (k % 13 == 0) row = replace(row, ",3,4,", ",,,");                // empty fields: absent
    if (k % 31 == 0) row = replace(row, ",1,2,", ",1.5,2,");            // a point: portable
    if (k % 37 == 0) row = replace(row, "2000-01-", "2000-1-0");        // a date of another form
    if (k % 41 == 1) {  // too few commas, the LF within 64 bytes
      row.resize(row.find(",x,"));
    } else if (k % 43 == 1) {  // too few commas, the LF at 64 to 127
      row = replace(row, ",x,", ',' + std::string(60, 'y') + ',');
      row.resize(row.find(",15,"));
    }
    text += row + (k % 5 ? "\n" : "\r\n");
  }
  celestrak::Loader portable(text.size(), Reader::portable, 4096);
  heliodex::text::feed(portable, text, 4096);
  const auto want = outcome(portable.finish(), true);
  const std::uint64_t whole = text.size();
  for (const Reader reader : kReaders) {
    if (!celestrak::detail::can_run(reader)) continue;
    for (const std::uint64_t hint : {std::uint64_t{0}, std::uint64_t{64}, whole}) {
      celestrak::Loader loader(hint, reader, 4096);
      heliodex::text::feed(loader, text, 4096);
      EXPECT_EQ(outcome(loader.finish(), true), want) << static_cast<int>(reader) << ' ' << hint;
    }
  }
}

// A CelesTrak record: these values, and none of the indices the format does not carry.
void expect_day(const DailyRecord& r, CalendarDate date, double obs, double adj, double ap,
                const std::array<double, 8>& kp, const std::array<double, 8>& ap3) {
  EXPECT_EQ(describe(r), describe({date, obs, adj, {}, {}, ap, ap3, kp, {}, {}, {}, {}}));
}

TEST(CelestrakParse, ReadsItsColumnsInFileOrderWhateverTheLineEnds) {
  const auto lf = ok(kHeader + "\n" + kRow + "\n2000-02-30\n" + kRow);
  const auto crlf = ok(kHeader + "\r\n" + kRow + "\r\n2000-02-30\r\n" + kRow + "\r\n");
  ASSERT_EQ(lf.size(), 3u);
  ASSERT_EQ(crlf.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(describe(lf[i]), describe(crlf[i]));
  expect_day(lf[0], {2000, 1, 2}, 150.5, 151.5, 20, {1, 2, 3, 4, 5, 6, 7, 8},
             {11, 12, 13, 14, 15, 16, 17, 18});
  EXPECT_EQ(describe(lf[1]), describe(
                                {{2000, 2, 30}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}}));
  EXPECT_EQ(describe(lf[2]), describe(lf[0]));  // a repeated day is kept
}

// Whether the dates strictly ascend, which lets the store skip its own look, is exact.
TEST(CelestrakParse, TellsWhetherTheDatesAscend) {
  const auto day = [](const char* d) { return replace(kRow, "2000-01-02", d); };
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {day("2000-01-02"), true},
      {day("1999-12-31") + "\n\n" + day("2000-01-01") + "\n" + day("2000-02-30"), true},
      {day("2000-01-02") + "\n" + day("2000-01-02"), false},
      {day("2000-01-02") + "\n" + day("2000-01-01"), false},
      {day("0000-01-01") + "\n" + day("2000-01-02") + "\n" + day("0000-12-31"), false},
  };
  for (const auto& [lines, want] : cases)
    for (const Reader reader : kReaders) {
      bool ascending = !want;
      ASSERT_TRUE(celestrak::detail::parse_lines(kHeader + "\n" + lines, reader, &ascending));
      EXPECT_EQ(ascending, want) << lines;
    }
  bool ascending = true;
  EXPECT_FALSE(celestrak::parse(kHeader + "\n" + day("2000-01-00"), &ascending));
  EXPECT_FALSE(ascending);  // a failed parse says nothing ascends
}

TEST(CelestrakHeader, FallbacksPreferenceTrimmingAndLastOccurrence) {
  const std::string fallback =
      replace(replace(replace(kHeader, "AP_AVG", "AP"), "F10.7_OBS", "F10.7"), "F10.7_ADJ",
              "F10.7A");
  // The preferred name wins wherever it stands; the fallback is then ignored.
  for (const std::string& text :
       {fallback + "\n" + kRow, "F10.7,F10.7A,AP," + kHeader + "\n1,2,3," + kRow}) {
    const auto r = ok(text)[0];
    EXPECT_EQ(r.f10_7_obs, 150.5);
    EXPECT_EQ(r.f10_7_adj, 151.5);
    EXPECT_EQ(r.ap_daily, 20.0);
  }
  // Names are trimmed; a repeated name reads from its last column.
  const auto last = ok(" DATE\t," + kHeader.substr(5) + ", KP8 ,F10.7_OBS\u00A0\n" + kRow +
                       ",80,99.5")[0];
  EXPECT_EQ(last.f10_7_obs, 99.5);
  EXPECT_EQ((*last.kp_3hr)[7], 80.0);
}

TEST(CelestrakHeader, GroupColumnsResolveWhereverTheyStand) {
  const celestrak::detail::HeaderMap header{{"AP3", 0}, {"AP1", 7}, {"AP2", 2}, {"AP4", 3},
                                           {"AP5", 4}, {"AP6", 5}, {"AP7", 6}, {"AP8", 1},
                                           {"AP", 9}};
  auto cols = celestrak::detail::resolve_array_cols(header, "AP");
  ASSERT_TRUE(cols);
  EXPECT_EQ(*cols, (std::array<std::size_t, 8>{7, 2, 0, 3, 4, 5, 6, 1}));
  EXPECT_FALSE(celestrak::detail::resolve_array_cols(header, "KP"));
}

struct ValueCase {
  const char* field;
  const char* bits;  // as bits() writes the value: its pattern, "nan" or "-"
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << '"' << c.field << '"'; }
};
const std::vector<ValueCase> kValues = {
    {"", "-"}, {" \t", "-"}, {"9999.9", "-"}, {"99999", "-"}, {"999.9", "-"}, {" 99999\t", "-"},
    {"abc", "-"}, {"12abc", "-"}, {"12a", "-"}, {"1.2.3", "-"}, {"0x1", "-"}, {"1 2", "-"},
    {"nan", "nan"}, {"-NaN", "nan"}, {"9999.90", "40c387f333333333"},
    {"99999.0", "40f869f000000000"}, {"09999.9", "40c387f333333333"},
    {"999.90", "408f3f3333333333"}, {"9999", "40c3878000000000"}, {"0", "0"},
    {"7", "401c000000000000"}, {"43", "4045800000000000"}, {"400", "4079000000000000"},
    {"1234", "4093480000000000"}, {"0007", "401c000000000000"}, {"00000001", "3ff0000000000000"},
    {" 12", "4028000000000000"}, {"12\r", "4028000000000000"}, {" 8", "4020000000000000"},
    {"9 ", "4022000000000000"}, {"\t10", "4024000000000000"}, {"\u00A077", "4053400000000000"},
    {"+5", "4014000000000000"}, {"-3", "c008000000000000"}, {"-0", "8000000000000000"},
    {"1.5", "3ff8000000000000"}, {".5", "3fe0000000000000"}, {"5.", "4014000000000000"},
    {"269.3", "4070d4cccccccccd"}, {"1e2", "4059000000000000"}, {"123", "405ec00000000000"},
    {"12345", "40c81c8000000000"}, {"1234567.5", "4132d68780000000"},
    {"123456789012", "423cbe991a140000"}, {"12345678901234567890", "43e56a95319d63e1"},
    {"inf", "7ff0000000000000"}, {"12345678", "41678c29c0000000"},
    {"1234567.8", "4132d687cccccccd"}, {"0000269.3", "4070d4cccccccccd"},
    {"999.8", "408f3e6666666666"}, {"99.99", "4058ff5c28f5c28f"},
    {"123456789", "419d6f3454000000"}, {"-00000012", "c028000000000000"},
    {"-0000001.5", "bff8000000000000"}};

// AgreesWithTheFieldRulesOnMixedLines reads each of these in place.
class CelestrakValues : public ::testing::TestWithParam<ValueCase> {};
TEST_P(CelestrakValues, FollowTheNumberRule) {
  EXPECT_EQ(bits(celestrak::detail::parse_f64_opt(GetParam().field)), GetParam().bits);
}
INSTANTIATE_TEST_SUITE_P(Table, CelestrakValues, ::testing::ValuesIn(kValues));

TEST(CelestrakGroups, ShortLinesAndMissingMembersLeaveGroupsAbsent) {
  const auto r = ok(kHeader + "\n2000-01-01,1,2,3,4,5,6,7,,x,11,12,13,14,15,16,17,18" +
                    "\n2000-01-01,1,2,3,4,5,6,7,8,x,11,12,13,14,15,16,17");
  EXPECT_FALSE(r[0].kp_3hr || r[0].ap_daily || r[0].f10_7_obs || r[0].f10_7_adj);
  EXPECT_TRUE(r[0].ap_3hr && r[1].kp_3hr);
  EXPECT_FALSE(r[1].ap_3hr);  // AP8 lies past the end of the line
  const std::vector<std::string_view> fields{"1", "2", "3", "4", "5", "6", "7"};
  EXPECT_FALSE(celestrak::detail::parse_array_8(fields, {0, 1, 2, 3, 4, 5, 6, 7}));
}

// Where a header puts the wanted columns, counted from DATE's.
struct Layout {
  const char* name;
  std::string header;  // from DATE on
  std::size_t kp1, ap1, ap_avg, obs, adj;
  std::size_t lead;  // ignored columns before DATE (then also 40 more)
  friend void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }
};
// kHeader, with a column before DATE; and CelesTrak's own header, which the half-wide reader
// takes by columns it knows when compiled.
const Layout kLayouts[] = {
    {"shuffled", kHeader, 1, 10, 18, 19, 20, 1},
    {"celestrak",
     "DATE,BSRN,ND,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,KP_SUM,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,"
     "AP_AVG,CP,C9,ISN,F10.7_OBS,F10.7_ADJ,F10.7_DATA_TYPE,F10.7_OBS_CENTER81",
     3, 12, 20, 24, 25, 0}};

// Lines of every shape and length read by the parser agree with the field rules applied to
// the same lines cut up plainly: every field of kValues, alone, in a group, or ending a line;
// read by each line reader the CPU runs, under each layout.
class CelestrakLines : public ::testing::TestWithParam<std::tuple<Reader, Layout>> {};
INSTANTIATE_TEST_SUITE_P(Readers, CelestrakLines,
                         ::testing::Combine(::testing::ValuesIn(kReaders), ::testing::ValuesIn(kLayouts)),
                         [](const auto& info) {
                           const Reader r = std::get<0>(info.param);
                           return std::string(r == Reader::wide        ? "wide"
                                              : r == Reader::half_wide ? "half_wide"
                                                                       : "portable") +
                                  "_" + std::get<1>(info.param).name;
                         });
TEST_P(CelestrakLines, AgreeWithTheFieldRulesOnMixedLines) {
  const auto& [reader, layout] = GetParam();
  if (!celestrak::detail::can_run(reader)) GTEST_SKIP() << "this CPU cannot run the reader";
  const std::size_t n = kValues.size();
  std::mt19937 rng(7);
  const auto pick = [&](std::size_t m) { return static_cast<std::size_t>(rng() % m); };
  // Also with 40 ignored columns in front, which move every wanted field past the 32nd.
  for (const std::size_t skip : {std::size_t{0}, layout.lead ? std::size_t{40} : 0})
  for (std::size_t file_lines : {1u, 3u, 40u, 3000u}) {
    std::string fill;
    for (std::size_t c = 0; c < skip; ++c) fill += ",F" + std::to_string(c);
    std::string text = (layout.lead ? "X" + fill + "," : "") + layout.header + ",Y\n";
    std::uint64_t rows = 1;
    std::vector<std::string> lines;
    std::vector<std::uint8_t> days;
    const std::size_t lead = layout.lead ? 1 + skip : 0;  // fields before DATE
    for (std::size_t i = 0; i < file_lines; ++i) {
      // Some lines pass 128 bytes before their wanted fields end.
      const std::string wide = pick(4) ? "a" : std::string(pick(200), 'z');
      std::string line = layout.lead ? wide + std::string(skip, ',') + "," : "";
      days.push_back(static_cast<std::uint8_t>(1 + pick(28)));
      line += "2000-01-" + std::to_string(days.back());
      // First each field of kValues stands in KP7 and in F10.7_OBS, which ends every other
      // such line, among 7s.
      const bool own = file_lines > n && i < n;
      // Some lines stop early; the vector readers take those that go on past F10.7_ADJ.
      const std::size_t columns = own ? layout.obs + 1 + 3 * (i % 2)
                                  : pick(6) ? layout.adj + 1 + pick(4)
                                            : pick(layout.adj + 2);
      for (std::size_t c = 1; c < columns; ++c)
        line += std::string(",") +
                (!own                                  ? kValues[pick(n)].field
                 : c == layout.kp1 + 6 || c == layout.obs ? kValues[i].field
                 : c == 1 && !layout.lead               ? wide
                                                        : "7");
      // Some go on past 128 bytes after the wanted fields.
      if (!pick(4)) line.append(1, ',').append(pick(160), 'q');
      lines.push_back(line);
      text += line + (pick(5) ? "\n" : "\r\n");
      ++rows;
      if (!pick(20)) text += " \n", ++rows;
    }
    if (pick(2)) text.pop_back();  // with or without a final line feed
    const auto recs = ok(text, reader);
    ASSERT_EQ(recs.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::vector<std::string_view> f;
      for (std::size_t start = 0, comma = 0; comma != std::string::npos; start = comma + 1) {
        comma = lines[i].find(',', start);
        f.push_back(std::string_view(lines[i]).substr(start, comma - start));
      }
      const auto at = [&](std::size_t c) {
        return c + lead < f.size() ? f[c + lead] : std::string_view{};
      };
      const auto cols = [&](std::size_t first) {
        std::array<std::size_t, 8> c;
        for (std::size_t k = 0; k < 8; ++k) c[k] = first + lead + k;
        return c;
      };
      DailyRecord want{};
      want.date = {2000, 1, days[i]};
      want.f10_7_obs = celestrak::detail::parse_f64_opt(at(layout.obs));
      want.f10_7_adj = celestrak::detail::parse_f64_opt(at(layout.adj));
      want.ap_daily = celestrak::detail::parse_f64_opt(at(layout.ap_avg));
      want.kp_3hr = celestrak::detail::parse_array_8(f, cols(layout.kp1));
      want.ap_3hr = celestrak::detail::parse_array_8(f, cols(layout.ap1));
      ASSERT_EQ(describe(recs[i]), describe(want)) << file_lines << ':' << i << ' ' << lines[i];
      if (file_lines <= n || i >= n) continue;
      EXPECT_EQ(bits(recs[i].f10_7_obs), kValues[i].bits) << lines[i];
      EXPECT_EQ(recs[i].kp_3hr ? bits((*recs[i].kp_3hr)[6]) : "-", kValues[i].bits) << lines[i];
      EXPECT_TRUE(recs[i].ap_3hr) << lines[i];  // the other group stands on its own
    }
    // A bad date after them all is reported at its own row.
    std::string last = lines.back();
    last.replace(last.find("2000-01-"), 8, "2000-13-");
    const auto r =
        celestrak::detail::parse_lines(text + (text.back() == '\n' ? "" : "\n") + last, reader);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), at_row(static_cast<int>(rows + 1)));
  }
}

// Every value of one decimal from 0.0 to 999.9, each way it may be written in a daily field,
// reads as the double nearest to it, by every reader: n / 10 of its digits n.
TEST(CelestrakTenths, EveryValueReadsAsItsDigitsOverTen) {
  std::string text = std::string(kLayouts[1].header) + "\n";
  const std::string mid = ",1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,";
  for (int n = 0; n < 10000; ++n) {
    std::string v = std::to_string(n / 10);
    v.append(1, '.').append(1, static_cast<char>('0' + n % 10));
    const std::string bare = n < 10 ? v.substr(1) : v;  // ".5"
    // F10.7_OBS and F10.7_ADJ, the latter with zeros in front, or with a second decimal,
    // which takes the portable way.
    text.append("2000-01-01").append(mid).append(v).append(",00").append(v).append(",1\n");
    text.append("2000-01-02").append(mid).append(bare).append(",").append(v).append("0,1\n");
  }
  for (const Reader reader : kReaders) {
    if (!celestrak::detail::can_run(reader)) continue;
    const auto recs = ok(text, reader);
    ASSERT_EQ(recs.size(), 20000u);
    for (int n = 0; n < 10000; ++n) {
      const std::string want = bits(n / 10.0);
      const DailyRecord &a = recs[2 * n], &b = recs[2 * n + 1];
      ASSERT_EQ(bits(a.f10_7_obs), n < 9999 ? want : "-") << n;  // 999.9 is a fill value
      ASSERT_EQ(bits(a.f10_7_adj), want) << n;
      ASSERT_EQ(bits(b.f10_7_obs), n < 9999 ? want : "-") << n;
      ASSERT_EQ(bits(b.f10_7_adj), want) << n;
    }
  }
}

TEST(CelestrakRealFile, ParsesSwAll) {
  std::ifstream in(HELIODEX_SHARED_DATA "/SW-All.csv", std::ios::binary);
  if (!in) GTEST_SKIP() << "SW-All.csv not found in " HELIODEX_SHARED_DATA;
  std::stringstream ss;
  ss << in.rdbuf();
  const auto recs = ok(ss.str());
  ASSERT_EQ(recs.size(), 24888u);
  expect_day(recs.front(), {1957, 10, 1}, 269.3, 269.8, 21, {43, 40, 30, 20, 37, 23, 43, 37},
             {32, 27, 15, 7, 22, 9, 32, 22});
  EXPECT_EQ(recs[19998].date, (CalendarDate{2012, 7, 2}));  // line 20000
  EXPECT_EQ(recs[19998].f10_7_obs, 165.9);
  EXPECT_EQ((*recs[19998].kp_3hr)[2], 43.0);
  const DailyRecord& last = recs.back();
  EXPECT_EQ(last.date, (CalendarDate{2041, 10, 1}));
  EXPECT_EQ(last.f10_7_adj, 70.0);
  EXPECT_FALSE(last.ap_3hr || last.kp_3hr || last.ap_daily);
  std::size_t without_kp = 0;
  for (const auto& r : recs) without_kp += !r.kp_3hr;
  EXPECT_EQ(without_kp, 197u);  // the predicted days at the end
  // In blocks of any size it reads alike.
  for (const std::size_t block : {333, 4093}) {
    const auto r = celestrak::detail::parse_lines(ss.str(), Reader::portable, nullptr, block);
    ASSERT_TRUE(r && r->size() == recs.size()) << block;
    for (std::size_t i = 0; i < recs.size(); ++i)
      ASSERT_EQ(words((*r)[i]), words(recs[i])) << "block " << block << ", line " << i + 2;
  }
  // Every reader the CPU runs reads the file as the portable one does.
  const auto portable = ok(ss.str(), Reader::portable);
  ASSERT_EQ(portable.size(), recs.size());
  for (const Reader reader : kReaders) {
    if (!celestrak::detail::can_run(reader)) continue;
    const auto other = ok(ss.str(), reader);
    ASSERT_EQ(other.size(), portable.size());
    for (std::size_t i = 0; i < other.size(); ++i) {
      if (words(other[i]) != words(portable[i])) {
        ASSERT_EQ(describe(other[i]), describe(portable[i])) << "line " << i + 2;
      }
    }
  }
}

}  // namespace
