#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

namespace {

// The wanted columns out of order, with one ignored column among them.
const std::string kHeader =
    "DATE,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,ISN,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,AP_AVG,"
    "F10.7_OBS,F10.7_ADJ";
const std::string kRow = "2000-01-02,1,2,3,4,5,6,7,8,x,11,12,13,14,15,16,17,18,20,150.5,151.5";

std::string replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

std::vector<DailyRecord> ok(const std::string& text) {
  auto r = celestrak::parse(text);
  EXPECT_TRUE(r) << (r ? "" : r.error().message());
  return r ? *r : std::vector<DailyRecord>{};
}

// Every field of a record, values as bit patterns, so that records compare as text.
std::string describe(const DailyRecord& r) {
  std::ostringstream os;
  os << r.date.year << '-' << int{r.date.month} << '-' << int{r.date.day};
  heliodex::for_each_index(r, [&](const char* name, const auto& field) {
    os << ' ' << name << '=';
    if (!field) {
      os << '-';
      return;
    }
    if constexpr (std::is_same_v<std::decay_t<decltype(*field)>, double>)
      os << std::hex << std::bit_cast<std::uint64_t>(*field) << std::dec;
    else
      for (double v : *field) os << std::hex << std::bit_cast<std::uint64_t>(v) << std::dec << ',';
  });
  return os.str();
}

struct ErrorCase {
  std::string text, message;
  friend void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.message; }
};

class CelestrakErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CelestrakErrors, FirstFaultEndsTheParse) {
  auto r = celestrak::parse(GetParam().text);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), GetParam().message);
}

const std::string kBadHeader = "invalid or missing CSV header";
std::string at_row(int row) { return "parse error at row " + std::to_string(row) + ": invalid date"; }

INSTANTIATE_TEST_SUITE_P(
    Cases, CelestrakErrors,
    ::testing::Values(
        ErrorCase{"", kBadHeader}, ErrorCase{"\xFF" + kHeader, kBadHeader},
        ErrorCase{kHeader + "\n" + kRow + "\n\xC0\x80", kBadHeader},  // bad UTF-8 anywhere
        ErrorCase{"\n" + kHeader + "\n" + kRow, kBadHeader},           // a blank first line
        ErrorCase{"\xEF\xBB\xBF" + kHeader, kBadHeader},               // the BOM joins DATE
        ErrorCase{replace(kHeader, "DATE", "date"), kBadHeader},
        ErrorCase{replace(kHeader, "DATE", "\"DATE\""), kBadHeader},
        ErrorCase{replace(kHeader, "KP8", "KP9"), kBadHeader},
        ErrorCase{replace(kHeader, "AP1,", "AP01,"), kBadHeader},
        ErrorCase{replace(kHeader, "AP_AVG", "APAVG"), kBadHeader},
        ErrorCase{replace(kHeader, "F10.7_OBS", "F10.7_0BS"), kBadHeader},
        ErrorCase{replace(kHeader, "F10.7_ADJ", "F10.7ADJ"), kBadHeader},
        ErrorCase{kHeader + "\n" + kRow + "\n\n \t\r\n\u3000\n2000-13-01", at_row(6)},
        ErrorCase{kHeader + "\n,,,,", at_row(2)}, ErrorCase{kHeader + "\n# note", at_row(2)},
        ErrorCase{kHeader + "\n" + kRow + "\n" + kRow + "\nx," + kRow, at_row(4)},
        ErrorCase{kHeader.substr(5) + ",DATE\n1,2", at_row(2)}));  // too short for the date

class CelestrakDates : public ::testing::TestWithParam<std::string> {};

TEST_P(CelestrakDates, ReadsValidAndRefusesInvalid) {
  const std::string& date = GetParam();
  auto r = celestrak::parse(kHeader + "\n" + date.substr(1) + ",1");
  if (date[0] == '+') {
    ASSERT_TRUE(r) << date;
    EXPECT_EQ(r->size(), 1u);
  } else {
    ASSERT_FALSE(r) << date;
    EXPECT_EQ(r.error().message(), at_row(2));
  }
}

// The first character says whether the rest is accepted.
INSTANTIATE_TEST_SUITE_P(
    Table, CelestrakDates,
    ::testing::Values("+2000-1-2", "++2000-+01-+02", "+02000-001-002", "+ 2000-01-02\t",
                      "+2147483647-12-31", "+0-02-30", "+1999-12-31", "+0000000000002000-1-1",
                      "-2000-00-01", "-2000-13-01", "-2000-01-00", "-2000-01-32", "-2000-01",
                      "-2000-01-01-01", "-2000/01/01", "-2000-01-01T00", "-2000- 01-01",
                      "-2000-++1-01", "-2147483648-01-01", "-2000-256-01", "--1-01-01", "-",
                      "-2000-1a-01", "-2000--01", "-20x0-01-01", "-2000-01-0\u00A01"));

// Ten-byte dates take a shortcut when they read YYYY-MM-DD; the parts must come out the same
// as by the general rule, including for ten-byte texts of other shapes.
TEST(CelestrakDates, TenByteDatesReadPartByPart) {
  const std::vector<std::pair<std::string, CalendarDate>> cases = {
      {"0000-01-01", {0, 1, 1}},     {"9999-12-31", {9999, 12, 31}}, {"1957-10-01", {1957, 10, 1}},
      {"2000-02-30", {2000, 2, 30}}, {"2019-09-19", {2019, 9, 19}},  {"2000-1-011", {2000, 1, 11}},
      {"+200-01-01", {200, 1, 1}},   {"20-+1-+001", {20, 1, 1}},     {"2000-01-1 ", {2000, 1, 1}}};
  std::string text = kHeader + "\n";
  for (const auto& [date, _] : cases) text += date + ",1\n";
  const auto recs = ok(text);
  ASSERT_EQ(recs.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(recs[i].date, cases[i].second) << i;
}

// A CelesTrak record: these values, and none of the indices the format does not carry.
void expect_day(const DailyRecord& r, CalendarDate date, double obs, double adj, double ap,
                const std::array<double, 8>& kp, const std::array<double, 8>& ap3) {
  EXPECT_EQ(r.date, date);
  EXPECT_EQ(r.f10_7_obs, obs);
  EXPECT_EQ(r.f10_7_adj, adj);
  EXPECT_EQ(r.ap_daily, ap);
  EXPECT_EQ(r.kp_3hr, kp);
  EXPECT_EQ(r.ap_3hr, ap3);
  EXPECT_FALSE(r.f10_7_jb || r.f10_7_jb_81c || r.s10_7 || r.m10_7 || r.y10_7 || r.dtc);
}

TEST(CelestrakParse, ReadsEveryColumnItNeedsAndNothingElse) {
  const auto recs = ok(kHeader + "\n" + kRow + "\n");
  ASSERT_EQ(recs.size(), 1u);
  expect_day(recs[0], {2000, 1, 2}, 150.5, 151.5, 20, {1, 2, 3, 4, 5, 6, 7, 8},
             {11, 12, 13, 14, 15, 16, 17, 18});
}

TEST(CelestrakParse, HeaderOnlyBlankLinesAndLineEnds) {
  EXPECT_TRUE(ok(kHeader).empty());
  EXPECT_TRUE(ok(kHeader + "\r\n").empty());
  EXPECT_TRUE(ok(kHeader + "\n\n  \n\t").empty());
  const auto lf = ok(kHeader + "\n" + kRow + "\n2001-1-1\n" + kRow);
  const auto crlf = ok(kHeader + "\r\n" + kRow + "\r\n2001-1-1\r\n" + kRow + "\r\n");
  ASSERT_EQ(lf.size(), 3u);
  ASSERT_EQ(crlf.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(describe(lf[i]), describe(crlf[i]));
  const auto repeated = ok(kHeader + "\n2000-02-30\n" + kRow);  // all kept, in file order
  ASSERT_EQ(repeated.size(), 2u);
  EXPECT_EQ(repeated[0].date, (CalendarDate{2000, 2, 30}));
  EXPECT_FALSE(repeated[0].f10_7_obs);
  EXPECT_EQ(repeated[1].f10_7_obs, 150.5);
}

TEST(CelestrakHeader, FallbacksPreferenceTrimmingAndLastOccurrence) {
  const std::string fallback =
      replace(replace(replace(kHeader, "AP_AVG", "AP"), "F10.7_OBS", "F10.7"), "F10.7_ADJ",
              "F10.7A");
  const auto r = ok(fallback + "\n" + kRow)[0];
  EXPECT_EQ(r.f10_7_obs, 150.5);
  EXPECT_EQ(r.f10_7_adj, 151.5);
  EXPECT_EQ(r.ap_daily, 20.0);
  // The preferred name wins wherever it stands; the fallback is then ignored.
  const auto pref = ok("F10.7,F10.7A,AP," + kHeader + "\n1,2,3," + kRow)[0];
  EXPECT_EQ(pref.f10_7_obs, 150.5);
  EXPECT_EQ(pref.f10_7_adj, 151.5);
  EXPECT_EQ(pref.ap_daily, 20.0);
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
  std::uint64_t bits;  // kAbsent when absent
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << '"' << c.field << '"'; }
};
constexpr std::uint64_t kAbsent = 0x7FF0000000000001, kNan = 0x7FF0000000000002;  // sNaNs

class CelestrakValues : public ::testing::TestWithParam<ValueCase> {};

// Each field is read both alone and in place, in a short line and as a group member.
TEST_P(CelestrakValues, FollowTheNumberRule) {
  const auto [field, bits] = GetParam();
  const auto check = [&](const heliodex::Index& v) {
    ASSERT_EQ(v.has_value(), bits != kAbsent);
    if (!v) return;
    if (bits == kNan) {
      EXPECT_TRUE(std::isnan(*v));
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(*v), bits) << *v;
    }
  };
  check(celestrak::detail::parse_f64_opt(field));
  const std::string line = "2000-01-01,1,2,3,4,5,6,7,8,x,11,12,13,14,15,16,17,18,20,";
  const auto r = ok(kHeader + "\n" + line + field + "\n" + replace(line, ",7,", std::string(",") + field + ",") + "1")[0];
  check(r.f10_7_obs);
  const auto g = ok(kHeader + "\n" + replace(line, ",7,", std::string(",") + field + ",") + "1")[0];
  ASSERT_EQ(g.kp_3hr.has_value(), bits != kAbsent);
  if (g.kp_3hr) check((*g.kp_3hr)[6]);
  EXPECT_TRUE(g.ap_3hr);  // the other group stands on its own
}

INSTANTIATE_TEST_SUITE_P(
    Table, CelestrakValues,
    ::testing::Values(
        ValueCase{"", kAbsent}, ValueCase{" \t", kAbsent}, ValueCase{"9999.9", kAbsent},
        ValueCase{"99999", kAbsent}, ValueCase{"999.9", kAbsent}, ValueCase{" 99999\t", kAbsent},
        ValueCase{"abc", kAbsent}, ValueCase{"12abc", kAbsent}, ValueCase{"1.2.3", kAbsent},
        ValueCase{"0x1", kAbsent}, ValueCase{"1 2", kAbsent},
        ValueCase{"nan", kNan}, ValueCase{"-NaN", kNan},
        ValueCase{"9999.90", 0x40C387F333333333}, ValueCase{"99999.0", 0x40F869F000000000},
        ValueCase{"09999.9", 0x40C387F333333333}, ValueCase{"999.90", 0x408F3F3333333333},
        ValueCase{"9999", 0x40C3878000000000}, ValueCase{"0", 0x0}, ValueCase{"7", 0x401C000000000000},
        ValueCase{"43", 0x4045800000000000}, ValueCase{"400", 0x4079000000000000},
        ValueCase{"1234", 0x4093480000000000}, ValueCase{"0007", 0x401C000000000000},
        ValueCase{" 12", 0x4028000000000000}, ValueCase{"12\r", 0x4028000000000000},
        ValueCase{"+5", 0x4014000000000000}, ValueCase{"-3", 0xC008000000000000},
        ValueCase{"-0", 0x8000000000000000}, ValueCase{"1.5", 0x3FF8000000000000},
        ValueCase{".5", 0x3FE0000000000000}, ValueCase{"5.", 0x4014000000000000},
        ValueCase{"269.3", 0x4070D4CCCCCCCCCD}, ValueCase{"1e2", 0x4059000000000000},
        ValueCase{"12345678901234567890", 0x43E56A95319D63E1}, ValueCase{"inf", 0x7FF0000000000000}));

TEST(CelestrakGroups, ShortLinesAndMissingMembersLeaveGroupsAbsent) {
  const auto r = ok(kHeader + "\n2000-01-01,1,2,3,4,5,6,7,,x,11,12,13,14,15,16,17,18")[0];
  EXPECT_FALSE(r.kp_3hr);
  EXPECT_TRUE(r.ap_3hr);
  EXPECT_FALSE(r.ap_daily || r.f10_7_obs || r.f10_7_adj);
  const auto s = ok(kHeader + "\n2000-01-01,1,2,3,4,5,6,7,8,x,11,12,13,14,15,16,17")[0];
  EXPECT_TRUE(s.kp_3hr);
  EXPECT_FALSE(s.ap_3hr);  // AP8 lies past the end of the line
  const std::vector<std::string_view> fields{"1", "2", "3", "4", "5", "6", "7"};
  const std::array<std::size_t, 8> cols{0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_FALSE(celestrak::detail::parse_array_8(fields, cols));
}

// Lines of every shape and length read by the parser agree with the field rules applied to
// the same lines cut up plainly.
TEST(CelestrakParse, AgreesWithTheFieldRulesOnMixedLines) {
  const char* tokens[] = {"", "0", "7", "12", "123", "1234", "12345", "99999", "9999.9", "999.9",
                          "9999.90", "1.5", ".5", "5.", "-3", "+4", " 8", "9 ", "\t10", "1e2",
                          "abc", "nan", "12a", "00000001", "123456789012", "1.2.3", "269.3",
                          "\u00A077", "1234567.5"};
  const std::string header = "X," + kHeader + ",Y";
  std::mt19937 rng(7);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (std::size_t file_lines : {1u, 3u, 40u, 3000u}) {
    std::string text = header + "\n";
    std::vector<std::string> lines;
    std::vector<std::uint8_t> days;
    for (std::size_t i = 0; i < file_lines; ++i) {
      std::string line = pick(4) ? "a" : std::string(pick(200), 'z');  // some lines pass 128 bytes
      days.push_back(static_cast<std::uint8_t>(1 + pick(28)));
      line += ",2000-01-" + std::to_string(days.back());
      const std::size_t columns = pick(6) ? 22 : pick(22);  // some lines stop early
      for (std::size_t c = 1; c < columns; ++c) line += std::string(",") + tokens[pick(std::size(tokens))];
      lines.push_back(line);
      text += line + (pick(5) ? "\n" : "\r\n");
      if (!pick(20)) text += " \n";
    }
    if (pick(2)) text.pop_back();  // with or without a final line feed
    const auto recs = ok(text);
    ASSERT_EQ(recs.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::vector<std::string_view> f;
      for (std::size_t start = 0;;) {
        const std::size_t comma = lines[i].find(',', start);
        f.push_back(std::string_view(lines[i]).substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      const auto at = [&](std::size_t col) { return col < f.size() ? f[col] : std::string_view{}; };
      DailyRecord want{};
      want.date = {2000, 1, days[i]};
      want.f10_7_obs = celestrak::detail::parse_f64_opt(at(20));
      want.f10_7_adj = celestrak::detail::parse_f64_opt(at(21));
      want.ap_daily = celestrak::detail::parse_f64_opt(at(19));
      want.kp_3hr = celestrak::detail::parse_array_8(f, {2, 3, 4, 5, 6, 7, 8, 9});
      want.ap_3hr = celestrak::detail::parse_array_8(f, {11, 12, 13, 14, 15, 16, 17, 18});
      ASSERT_EQ(describe(recs[i]), describe(want)) << file_lines << " line " << i << ": " << lines[i];
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
}

}  // namespace
