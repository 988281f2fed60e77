#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "parsers/set.hpp"
#include "parsers/text.hpp"

using heliodex::CalendarDate;
using heliodex::DailyRecord;
namespace set = heliodex::set;

namespace {

using Records = heliodex::Result<std::vector<DailyRecord>>;

// The error's text, or "ok".
std::string outcome(const Records& r) { return r ? "ok" : r.error().message(); }
std::string row_error(int row, const char* message) {
  return "parse error at row " + std::to_string(row) + ": " + message;
}

// A value as text: 17 digits tell any two doubles apart, and every NaN is "nan".
std::string as_text(const heliodex::Index& v) {
  std::ostringstream os;
  os.precision(17);
  os << v.value_or(0);
  return !v ? "absent" : std::isnan(*v) ? "nan" : os.str();
}
// The date and each index present with its value, so that records compare as text.
std::string describe(const DailyRecord& r) {
  std::string s = std::to_string(r.date.year) + '-' + std::to_string(r.date.month) + '-' +
                  std::to_string(r.date.day);
  heliodex::for_each_index(r, [&](const char* name, const auto& v) {
    if constexpr (std::is_same_v<std::decay_t<decltype(v)>, heliodex::Index>)
      if (v) s += std::string(" ") + name + '=' + as_text(v);
  });
  return s;
}
void expect_records(const Records& r, const std::vector<DailyRecord>& want) {
  ASSERT_TRUE(r) << outcome(r);
  ASSERT_EQ(r->size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(describe((*r)[i]), describe(want[i]));
}

// Right-aligns text in a field of the given width (longer text is kept whole).
std::string pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// A 109-byte DTCFILE line; hours not given are 10.
std::string dtc_line(const std::string& year, const std::string& doy,
                     const std::vector<std::string>& hours = {}) {
  std::string line = "DTC " + pad(year, 4) + pad(doy, 5);
  for (std::size_t k = 0; k < 24; ++k) line += pad(k < hours.size() ? hours[k] : "10", 4);
  return line;
}
// The DTCFILE line of 2023 day 1 with bytes written over it from offset at.
std::string dtc_with_bytes(std::size_t at, const std::string& bytes) {
  std::string line = dtc_line("2023", "1");
  return line.replace(at, bytes.size(), bytes);
}

struct Sol {
  std::string year = "1997", doy = "1", f10 = "72.4", f81 = "78.0", s10 = "74.0", m10 = "65.4",
              y10 = "61.9";
};
// A 64-byte SOLFSMY line in the published layout, unread columns filled as in the files.
std::string sol_line(const Sol& s) {
  return pad(s.year, 6) + pad(s.doy, 4) + pad("2450450.0", 12) + pad(s.f10, 6) + pad(s.f81, 6) +
         pad(s.s10, 6) + pad("79.2", 6) + pad(s.m10, 6) + pad("73.8", 6) + pad(s.y10, 6);
}
// Records carrying only what each format gives.
DailyRecord dtc_day(CalendarDate date, double dtc) {
  return {date, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, dtc};
}
DailyRecord sol_day(CalendarDate date, double f10, double f81, double s10, double m10,
                    double y10) {
  return {date, {}, {}, f10, f81, {}, {}, {}, s10, m10, y10, {}};
}
// The first line of the published SOLFSMY.TXT, as sol_line writes it by default.
const DailyRecord kSolDefault = sol_day({1997, 1, 1}, 72.4, 78.0, 74.0, 65.4, 61.9);

// Three comment lines: the first data line after them is row 4.
const std::string kHead = "# one\n# two\n# three\n";

struct IntCase {
  const char* text;
  std::optional<std::int64_t> value;  // nothing: the field fails, by name
  bool doy = false;                   // the unsigned day-of-year form
};
constexpr bool kDoy = true;

class ParseInt : public testing::TestWithParam<IntCase> {};
TEST_P(ParseInt, ValueOrFieldName) {
  const auto& [text, value, doy] = GetParam();
  const auto show = [](const auto& r) { return r ? std::to_string(*r) : r.error().message(); };
  EXPECT_EQ(doy ? show(set::parse_int(text, 2)) : show(set::parse_int(text, 7, "Dtc")),
            value ? std::to_string(*value) : doy ? row_error(2, "doy") : row_error(7, "Dtc"));
}
INSTANTIATE_TEST_SUITE_P(
    Table, ParseInt,
    testing::ValuesIn(std::vector<IntCase>{
        {"0", 0}, {"  -12 ", -12}, {"+007", 7}, {"-0", 0}, {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"\t\xC2\xA0" "42\xE3\x80\x80", 42},  // Unicode blanks
        {"", {}}, {"   ", {}}, {"-", {}}, {"+", {}}, {"12.0", {}}, {"1e2", {}}, {"1 2", {}},
        {"--1", {}}, {"+-1", {}}, {"0x1", {}}, {"2147483648", {}}, {"-2147483649", {}},
        {"99999999999999999999999", {}}, {"\xEF\xBB\xBF" "1", {}}, {"\xE2\x82", {}},
        {" 366 ", 366, kDoy}, {"+65535", 65535, kDoy}, {"0", 0, kDoy}, {"007", 7, kDoy},
        {"-1", {}, kDoy}, {"-0", {}, kDoy}, {"65536", {}, kDoy}, {"", {}, kDoy},
        {"+", {}, kDoy}, {"1.0", {}, kDoy}}));

struct DoyCase {
  std::int32_t year;
  std::uint16_t doy;
  CalendarDate date;  // month 0: "invalid day-of-year"
};

class DoyToDate : public testing::TestWithParam<DoyCase> {};
TEST_P(DoyToDate, ProlepticGregorian) {
  const auto& [year, doy, date] = GetParam();
  const auto r = set::doy_to_date(year, doy, 9);
  if (date.month == 0)
    EXPECT_EQ(r ? "ok" : r.error().message(), row_error(9, "invalid day-of-year"));
  else
    EXPECT_TRUE(r && *r == date) << (r ? "" : r.error().message());
}
constexpr CalendarDate dec31(std::int32_t y) { return {y, 12, 31}; }
INSTANTIATE_TEST_SUITE_P(
    Table, DoyToDate,
    testing::ValuesIn(std::vector<DoyCase>{
        {2023, 1, {2023, 1, 1}}, {2023, 31, {2023, 1, 31}}, {2023, 32, {2023, 2, 1}},
        {2023, 59, {2023, 2, 28}}, {2023, 60, {2023, 3, 1}}, {2024, 60, {2024, 2, 29}},
        {2024, 61, {2024, 3, 1}}, {2023, 334, {2023, 11, 30}}, {2023, 365, dec31(2023)},
        {2000, 366, dec31(2000)}, {2024, 366, dec31(2024)}, {0, 366, dec31(0)},
        {-4, 366, dec31(-4)}, {-400, 366, dec31(-400)}, {-1, 365, dec31(-1)},
        {INT32_MIN, 366, dec31(INT32_MIN)}, {INT32_MAX, 365, dec31(INT32_MAX)},
        {1900, 366, {}}, {2023, 366, {}}, {-1, 366, {}}, {-100, 366, {}}, {2024, 0, {}},
        {2024, 367, {}}, {2024, 65535, {}}}));

TEST(DoyToDate, EveryDayOfALeapYearFollowsThePrevious) {
  CalendarDate prev{2024, 1, 0};
  for (std::uint16_t d = 1; d <= 366; ++d) {
    const CalendarDate cur = *set::doy_to_date(2024, d, 1);
    const bool next_day = cur.month == prev.month && cur.day == prev.day + 1;
    ASSERT_TRUE(next_day || (cur.month == prev.month + 1 && cur.day == 1)) << "day " << d;
    prev = cur;
  }
}

// Both formats, a file at a time.

enum Format { kDtcfile, kSolfsmy };
Records parse(Format format, std::string_view text) {
  return format == kDtcfile ? set::parse_dtcfile(text) : set::parse_solfsmy(text);
}
struct FileCase {
  Format format;
  std::string text;
  std::string want;  // the error, "no records", or the first record's Dtc or F10.7 by as_text
  friend void PrintTo(const FileCase& c, std::ostream* os) { *os << c.want; }
};

std::vector<FileCase> file_cases() {
  const std::string dtc = dtc_line("2023", "1"), sol = sol_line({});
  const std::string too_short = row_error(1, "line too short"), dtc4 = row_error(4, "Dtc");
  const std::string none = "no records";
  std::vector<FileCase> cases = {
      // Lengths count no line end; a byte order mark is data, so it does not start a comment.
      {kDtcfile, dtc.substr(0, 108), too_short}, {kDtcfile, dtc.substr(0, 108) + "\r\n", too_short},
      {kSolfsmy, sol.substr(0, 63), too_short}, {kSolfsmy, sol.substr(0, 63) + "\r\n", too_short},
      {kDtcfile, "\xEF\xBB\xBF# comment", too_short},
      {kSolfsmy, "\xEF\xBB\xBF# not skipped", too_short},
      {kDtcfile, "\xEF\xBB\xBF#" + std::string(105, ' '), row_error(1, "year")},
      // UTF-8 is checked before any line is read.
      {kDtcfile, "short\n" + dtc + "\n\xFF", row_error(0, "invalid utf-8")},
      {kDtcfile, "\xED\xA0\x80", row_error(0, "invalid utf-8")},
      {kSolfsmy, "#\n" + sol + "\n\xC3", row_error(0, "invalid utf-8")},
      {kDtcfile, "", none}, {kDtcfile, "\n", none}, {kDtcfile, "# a\n\n   # b\r\n", none},
      {kSolfsmy, "", none}, {kDtcfile, dtc + "\r\n", "10"},
      {kDtcfile, "\xC3\xA9#!" + dtc.substr(4), "10"},  // the label is not read
      // Hours are signed integers anywhere in their four bytes, blanks Unicode too.
      {kDtcfile, kHead + dtc_line("2023", "1", {"-12", "+12"}), as_text(220.0 / 24)},
      {kDtcfile, kHead + dtc_line("2023", "1", {"-999", "0034", "  -0"}),
       as_text((-999 + 34 + 210) / 24.0)},
      {kDtcfile, kHead + dtc_with_bytes(13, "7   +8  "), as_text((7 + 8 + 220) / 24.0)},
      {kDtcfile, kHead + dtc_with_bytes(13, "\xC2\xA0" "12"), as_text((12 + 230) / 24.0)},
      // A character cut by a field boundary fails the field it starts in.
      {kSolfsmy, sol.substr(0, 27) + "\xC2\xA0" + sol.substr(29), row_error(1, "F10.7")},
      {kSolfsmy, kHead + sol_line({.f81 = ""}), row_error(4, "F81c")},
      {kSolfsmy, kHead + sol_line({.f81 = "1,0", .y10 = "x"}), row_error(4, "F81c")},
      {kSolfsmy, kHead + sol_line({.s10 = ""}), row_error(4, "S10.7")},
      {kSolfsmy, kHead + sol_line({.m10 = "abc"}), row_error(4, "M10.7")},
      {kSolfsmy, kHead + sol_line({.y10 = "1 2"}), row_error(4, "Y10.7")}};
  for (const std::string& line :
       {dtc_line("2023", "1", {"1", "12.0"}), dtc_line("2023", "1", {"1", ""}),
        dtc_line("2023", "1", {"1e2"}), dtc_line("2023", "1", {"- 5"}),
        dtc_line("2023", "1", {"5-"}), dtc_with_bytes(105, "  x "), dtc_with_bytes(13, "1 2 "),
        dtc_with_bytes(15, "\xE2\x82\xAC")})  // a euro sign across hours 0 and 1: no number
    cases.push_back({kDtcfile, kHead + line, dtc4});

  // Dates in both formats, alone and before a broken value: year, then day, then values.
  const char* const dates[][3] = {
      {"2000", "366", ""}, {"2024", "366", ""}, {"-400", "366", ""}, {"+0", "+060", ""},
      {"1900", "366", "invalid day-of-year"}, {"2023", "366", "invalid day-of-year"},
      {"2023", "0", "invalid day-of-year"}, {"2023", "-1", "doy"}, {"2023", "1.0", "doy"},
      {"2023", "", "doy"}, {"20x3", "1", "year"}, {"", "1", "year"}, {"19.7", "1", "year"},
      {"20x3", "-1", "year"}};
  for (const auto& [year, doy, error] : dates) {
    const std::string date_error = *error ? row_error(4, error) : "";
    cases.push_back({kDtcfile, kHead + dtc_line(year, doy), *error ? date_error : "10"});
    cases.push_back({kDtcfile, kHead + dtc_line(year, doy, {"1.5"}), *error ? date_error : dtc4});
    cases.push_back({kSolfsmy, kHead + sol_line({.year = year, .doy = doy}),
                     *error ? date_error : as_text(72.4)});
    cases.push_back({kSolfsmy, kHead + sol_line({.year = year, .doy = doy, .f10 = "x"}),
                     *error ? date_error : row_error(4, "F10.7")});
  }

  // The number rule, in the F10.7 field.
  const std::pair<const char*, std::optional<double>> numbers[] = {
      {"nan", NAN}, {"NaN", NAN}, {"1e3", 1000.0}, {"-1.5", -1.5}, {"+inf", INFINITY},
      {"9999.9", 9999.9}, {".5", 0.5}, {"5.", 5.0}, {"-0", -0.0}, {"72.4  ", 72.4},
      {"\xC2\xA0" "72.4", 72.4}, {"72,4", {}}, {"", {}}, {"1 2", {}}, {"0x10", {}}, {"1e", {}},
      {"72.4x", {}}, {"--1", {}}};
  for (const auto& [text, value] : numbers)
    cases.push_back(
        {kSolfsmy, sol_line({.f10 = text}), value ? as_text(value) : row_error(1, "F10.7")});
  return cases;
}

class SetFile : public testing::TestWithParam<FileCase> {};
TEST_P(SetFile, FirstValueOrError) {
  const auto& [format, text, want] = GetParam();
  const auto r = parse(format, text);
  EXPECT_EQ(!r          ? r.error().message()
            : r->empty() ? "no records"
                         : as_text(format == kDtcfile ? r->front().dtc : r->front().f10_7_jb),
            want);
}
INSTANTIATE_TEST_SUITE_P(Table, SetFile, testing::ValuesIn(file_cases()));

// The error, or every record, as text.
std::string everything(const Records& r) {
  if (!r) return r.error().message();
  std::string s;
  for (const DailyRecord& rec : *r) s += describe(rec) + '\n';
  return s;
}

// A file read a few bytes at a time, its lines cut anywhere, reads as one block.
TEST(SetLoader, AnyBlockSizeReadsAsOneBlock) {
  std::vector<FileCase> cases = file_cases();
  const std::string dtc = dtc_line("2023", "1"), sol = sol_line({});
  cases.push_back({kDtcfile, kHead + dtc + "\r\n\n" + dtc_line("2023", "2") + "\n" + dtc, ""});
  cases.push_back({kSolfsmy, kHead + sol + "\n" + sol_line({.doy = "2"}) + "\n\n# x\n" + sol, ""});
  // A bad line before bad UTF-8 in a later block: the UTF-8 error still comes first.
  cases.push_back({kSolfsmy, sol + "\n" + sol_line({.f10 = "x"}) + "\n" + sol + "\n\xE2\x82\n", ""});
  for (const FileCase& c : cases) {
    const std::string want = everything(parse(c.format, c.text));
    const auto format = c.format == kDtcfile ? set::Format::dtcfile : set::Format::solfsmy;
    for (const std::size_t block : {1, 2, 3, 7, 64, 200})
      ASSERT_EQ(everything(set::detail::parse(format, c.text, block)), want)
          << "block " << block << ", text:\n" << c.text;
  }
  EXPECT_EQ(everything(parse(kSolfsmy, cases.back().text)), row_error(0, "invalid utf-8"));
}

// Bad UTF-8 fails the file whatever follows, so the loader takes no more bytes once it has
// seen it; a bad line does not, since bad UTF-8 after it comes first.
TEST(SetLoader, TakesNoMoreBytesOnceTheFileIsRefused) {
  std::string rows;
  for (int k = 0; k < 1000; ++k) rows += sol_line({}) + '\n';
  const std::string sol = sol_line({}) + "\n";
  const struct {
    std::string head, want;
    bool refused;
  } cases[] = {{"\xFF\n", row_error(0, "invalid utf-8"), true},
               {kHead + sol + "\xE2\x82\n", row_error(0, "invalid utf-8"), true},
               {sol + sol_line({.f10 = "x"}) + "\n", row_error(2, "F10.7"), false},
               {kHead, "ok", false}};
  for (const auto& c : cases)
    for (const std::size_t block : {1, 7, 4096}) {
      const std::string text = c.head + rows;
      set::Loader loader(set::Format::solfsmy, text.size(), block);
      const std::size_t taken = heliodex::text::feed(loader, text, block);
      EXPECT_EQ(loader.refused(), c.refused) << c.head;
      EXPECT_LE(taken, c.refused ? c.head.size() + block - 1 : text.size()) << c.head;
      EXPECT_EQ(taken == text.size(), !c.refused) << c.head;
      EXPECT_EQ(outcome(loader.finish()), c.want) << c.head;
    }
}

// The loader tells whether every date is later than the one before; after an error, never.
TEST(SetLoader, TellsWhetherTheDatesAscend) {
  const std::string d1 = dtc_line("2023", "1"), d2 = dtc_line("2023", "2");
  const std::string late = dtc_line("2024", "1"), early = dtc_line("-5", "1");
  const std::pair<std::string, bool> cases[] = {
      {"", true},  // no records: nothing out of order
      {d1, true},
      {early + "\n" + d1 + "\n# x\n\n" + d2 + "\n" + late, true},
      {d1 + "\n" + d1, false},
      {d2 + "\n" + d1, false},
      {d1 + "\n" + d2 + "\n" + dtc_line("2023", "x"), false}};
  for (const auto& [text, ascending] : cases) {
    set::Loader loader(set::Format::dtcfile, text.size());
    heliodex::text::feed(loader, text, 7);
    bool got = !ascending;
    (void)loader.finish(&got);
    EXPECT_EQ(got, ascending) << text;
  }
  set::Loader sol(set::Format::solfsmy);
  const std::string text = sol_line({}) + "\n" + sol_line({.doy = "2"});
  heliodex::text::feed(sol, text, 64);
  bool got = false;
  ASSERT_TRUE(sol.finish(&got));
  EXPECT_TRUE(got);
}

TEST(DtcfileParse, HourFieldsAgreeWithParseIntOnEveryShortForm) {
  // Every four-byte field over these bytes, read as hour 0, 1 or 23 (the first and second
  // of a pair that may be read together, and the last) and by parse_int.
  const std::string alphabet = " -+079x.\t";
  int accepted = 0;
  for (std::size_t i = 0; i < 9 * 9 * 9 * 9; ++i) {
    const std::string f = {alphabet[i % 9], alphabet[i / 9 % 9], alphabet[i / 81 % 9],
                           alphabet[i / 729]};
    const auto v = set::parse_int(f, 1, "Dtc");
    accepted += bool(v);
    for (const std::size_t at : {13, 17, 105}) {
      const auto r = set::parse_dtcfile(dtc_with_bytes(at, f));
      ASSERT_EQ(bool(r), bool(v)) << '[' << f << "] at " << at;
      if (r) {
        ASSERT_EQ(r->at(0).dtc, (*v + 230.0) / 24) << '[' << f << "] at " << at;
      }
    }
  }
  EXPECT_GT(accepted, 100);
}

// Every field of these bytes, as SOLFSMY's F10.7 (six bytes: four, then a point or not,
// then a digit or not), reads as the number rule reads the trimmed field.
TEST(SolfsmyParse, NumberFieldsAgreeWithTheNumberRuleOnEveryShortForm) {
  const std::string alphabet = " -+079x.";
  int accepted = 0;
  for (std::size_t i = 0; i < 8 * 8 * 8 * 8 * 9; ++i) {
    const std::string f = {alphabet[i % 8],      alphabet[i / 8 % 8], alphabet[i / 64 % 8],
                           alphabet[i / 512 % 8], ". 7"[i / 4096 % 3], "5 ."[i / 12288]};
    const auto r = set::parse_solfsmy(sol_line({.f10 = f}));
    const auto v = heliodex::text::parse_number(heliodex::text::trim(f));
    ASSERT_EQ(bool(r), bool(v)) << '[' << f << ']';
    if (!r) continue;
    ++accepted;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*r->at(0).f10_7_jb), std::bit_cast<std::uint64_t>(*v))
        << '[' << f << ']';
  }
  EXPECT_GT(accepted, 1000);
}

// Every year and day field of these bytes, in either format, reads as parse_int and
// doy_to_date read it.
TEST(SetParse, DateFieldsAgreeWithParseIntOnEveryShortForm) {
  const std::string alphabet = " -+0169";
  const auto want = [](const std::string& year, const std::string& doy) {
    const auto y = set::parse_int(year, 1, "year");
    if (!y) return y.error().message();
    const auto d = set::parse_int(doy, 1);
    if (!d) return d.error().message();
    const auto date = set::doy_to_date(*y, *d, 1);
    return date ? describe({*date, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}}) : date.error().message();
  };
  const auto got = [](const Records& r) {
    if (!r) return r.error().message();
    return describe({r->at(0).date, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}});
  };
  for (std::size_t i = 0; i < 7 * 7 * 7 * 7 * 7; ++i) {
    std::string f = {alphabet[i % 7], alphabet[i / 7 % 7], alphabet[i / 49 % 7],
                     alphabet[i / 343 % 7], alphabet[i / 2401]};
    // DTCFILE: the five-byte day, then the four-byte year.
    ASSERT_EQ(got(set::parse_dtcfile(dtc_with_bytes(8, f))), want("2023", f)) << '[' << f << ']';
    f.pop_back();
    ASSERT_EQ(got(set::parse_dtcfile(dtc_with_bytes(4, f))), want(f, "1")) << '[' << f << ']';
    // SOLFSMY: the four-byte day, then the year in the last four of its six bytes.
    ASSERT_EQ(got(set::parse_solfsmy(sol_line({.doy = f}))), want("  1997", f)) << '[' << f << ']';
    const std::string year = "  " + f;
    ASSERT_EQ(got(set::parse_solfsmy(sol_line({.year = year, .doy = "60"}))), want(year, "  60"))
        << '[' << f << ']';
  }
}

TEST(DtcfileParse, SkipsBlanksAndCommentsAndKeepsEveryLineAsWritten) {
  std::vector<std::string> one_to_24;
  for (int i = 1; i <= 24; ++i) one_to_24.push_back(std::to_string(i));
  const std::string line = dtc_line("2000", "366", one_to_24);
  ASSERT_EQ(line.size(), 109u);
  // Duplicates stay, years are not widened, and bytes past the last hour are not read.
  expect_records(set::parse_dtcfile("# head\n   # indented\n\t#tab\n\n  \r\n\xC2\xA0\n" + line +
                                    "\r\n" + dtc_line("97", "2") + "\n" +
                                    dtc_line("97", "2", {"34"}) + "\n" + dtc_line("-5", "1") +
                                    "\n" + dtc_line("0", "60") + " any tail 12.x"),
                 {dtc_day({2000, 12, 31}, 12.5), dtc_day({97, 1, 2}, 10.0),
                  dtc_day({97, 1, 2}, 11.0), dtc_day({-5, 1, 1}, 10.0),
                  dtc_day({0, 2, 29}, 10.0)});
}

TEST(SolfsmyParse, ReadsItsColumnsWholeAndNothingElse) {
  const std::string line = sol_line({});
  // No blank separates neighbouring fields here, so a column off by one changes a value.
  const std::string packed = "-12345036512345678.901100.25200.25300.25400.25500.25600.25700.25";
  std::string unread = line;  // 12 bytes of day: the é is two
  unread.replace(10, 12, "JulianDay?é").replace(40, 6, "S81c!!").replace(52, 6, "\xE2\x82\xAC xx");
  ASSERT_EQ(line.size(), 64u);
  ASSERT_EQ(packed.size(), 64u);
  expect_records(set::parse_solfsmy("# YYYY DDD\n  # indented\n\n" + line + "\r\n" + packed +
                                    "  1B11 anything\n" + unread + "\t¿"),
                 {kSolDefault,
                  sol_day({-12345, 12, 31}, 100.25, 200.25, 300.25, 500.25, 700.25),
                  kSolDefault});
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  if (in) ss << in.rdbuf();
  return ss.str();
}

struct PublishedFile {
  const char* path;
  Format format;
  bool bundled;  // a file of the published set may be missing; a bundled sample may not
  std::size_t count;
  DailyRecord first, last;
  std::vector<DailyRecord> days;  // each compared with the first record of its date
  friend void PrintTo(const PublishedFile& f, std::ostream* os) { *os << f.path; }
};

class SetFiles : public testing::TestWithParam<PublishedFile> {};
TEST_P(SetFiles, ParseWithTheirCountsAndValues) {
  const auto& f = GetParam();
  const std::string text = slurp(f.path);
  if (text.empty() && !f.bundled) GTEST_SKIP() << f.path << " not found";
  const auto r = parse(f.format, text);
  ASSERT_TRUE(r) << outcome(r);
  ASSERT_EQ(r->size(), f.count);
  const auto format = f.format == kDtcfile ? set::Format::dtcfile : set::Format::solfsmy;
  EXPECT_EQ(everything(set::detail::parse(format, text, 4093)), everything(r));
  EXPECT_EQ(describe(r->front()), describe(f.first));
  EXPECT_EQ(describe(r->back()), describe(f.last));
  for (const DailyRecord& want : f.days) {
    const auto it = std::find_if(r->begin(), r->end(),
                                 [&](const DailyRecord& d) { return d.date == want.date; });
    EXPECT_EQ(it == r->end() ? "missing" : describe(*it), describe(want));
  }
}
// 30 October 2003 is in the Halloween storms; 5 October 2000 has DTCFILE's largest daily sum.
INSTANTIATE_TEST_SUITE_P(
    Files, SetFiles,
    testing::Values(
        PublishedFile{HELIODEX_TEST_DATA "/SOLFSMY_sample.TXT", kSolfsmy, true, 60, kSolDefault,
                      sol_day({1997, 3, 1}, 71.8, 74.2, 78.0, 74.6, 66.6), {}},
        PublishedFile{HELIODEX_TEST_DATA "/DTCFILE_sample.TXT", kDtcfile, true, 60,
                      dtc_day({1997, 1, 1}, 894.0 / 24), dtc_day({1997, 3, 1}, 1992.0 / 24), {}},
        PublishedFile{HELIODEX_SHARED_DATA "/SOLFSMY.TXT", kSolfsmy, false, 7913, kSolDefault,
                      sol_day({2018, 8, 31}, 67.5, 68.5, 53.5, 67.7, 63.6),
                      {sol_day({2003, 10, 30}, 271.4, 140.1, 154.0, 187.4, 180.3),
                       sol_day({2016, 12, 31}, 73.5, 76.5, 74.3, 70.4, 91.1)}},  // day 366
        PublishedFile{HELIODEX_SHARED_DATA "/DTCFILE.TXT", kDtcfile, false, 7912,
                      dtc_day({1997, 1, 1}, 894.0 / 24), dtc_day({2018, 8, 30}, 710.0 / 24),
                      {dtc_day({2003, 10, 30}, 5022.0 / 24),
                       dtc_day({2000, 10, 5}, 7954.0 / 24)}}));

}  // namespace
