#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "parsers/set.hpp"

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

struct Sol {
  std::string year = "1997", doy = "1", f10 = "72.4", f81 = "78.0", s10 = "74.0", m10 = "65.4",
              y10 = "61.9";
};
// A 64-byte SOLFSMY line in the published layout, unread columns filled as in the files.
std::string sol_line(const Sol& s) {
  return pad(s.year, 6) + pad(s.doy, 4) + pad("2450450.0", 12) + pad(s.f10, 6) + pad(s.f81, 6) +
         pad(s.s10, 6) + pad("79.2", 6) + pad(s.m10, 6) + pad("73.8", 6) + pad(s.y10, 6);
}

const std::string kThreeComments = "# one\n# two\n# three\n";

TEST(SetLineHelpers, BuildPublishedLengths) {
  ASSERT_EQ(dtc_line("1997", "1").size(), 109u);
  ASSERT_EQ(sol_line({}).size(), 64u);
}

// --- parse_int ---

struct IntCase {
  const char* text;
  std::optional<std::int64_t> value;  // nothing: the field fails
};

class ParseIntSigned : public testing::TestWithParam<IntCase> {};
TEST_P(ParseIntSigned, ValueOrFieldName) {
  const auto r = set::parse_int(GetParam().text, 7, "Dtc");
  if (GetParam().value) {
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(*r, *GetParam().value);
  } else {
    ASSERT_FALSE(r) << *r;
    EXPECT_EQ(r.error().message(), row_error(7, "Dtc"));
  }
}
INSTANTIATE_TEST_SUITE_P(
    ParseInt, ParseIntSigned,
    testing::Values(IntCase{"0", 0}, IntCase{"  -12 ", -12}, IntCase{"+007", 7},
                    IntCase{"-0", 0}, IntCase{"2147483647", INT32_MAX},
                    IntCase{"-2147483648", INT32_MIN},
                    IntCase{"\t\xC2\xA0" "42\xE3\x80\x80", 42},  // Unicode blanks are trimmed
                    IntCase{"", {}}, IntCase{"   ", {}}, IntCase{"-", {}}, IntCase{"+", {}},
                    IntCase{"12.0", {}}, IntCase{"1e2", {}}, IntCase{"1 2", {}},
                    IntCase{"--1", {}}, IntCase{"+-1", {}}, IntCase{"0x1", {}},
                    IntCase{"2147483648", {}}, IntCase{"-2147483649", {}},
                    IntCase{"99999999999999999999999", {}}, IntCase{"\xEF\xBB\xBF" "1", {}},
                    IntCase{"\xE2\x82", {}}));

class ParseIntDoy : public testing::TestWithParam<IntCase> {};
TEST_P(ParseIntDoy, ValueOrDoy) {
  const auto r = set::parse_int(GetParam().text, 2);
  if (GetParam().value) {
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(*r, *GetParam().value);
  } else {
    ASSERT_FALSE(r) << *r;
    EXPECT_EQ(r.error().message(), row_error(2, "doy"));
  }
}
INSTANTIATE_TEST_SUITE_P(ParseInt, ParseIntDoy,
                         testing::Values(IntCase{" 366 ", 366}, IntCase{"+65535", 65535},
                                         IntCase{"0", 0}, IntCase{"007", 7}, IntCase{"-1", {}},
                                         IntCase{"-0", {}}, IntCase{"65536", {}},
                                         IntCase{"", {}}, IntCase{"+", {}},
                                         IntCase{"1.0", {}}));

// --- doy_to_date ---

struct DoyCase {
  std::int32_t year;
  std::uint16_t doy;
  std::optional<CalendarDate> date;  // nothing: "invalid day-of-year"
};

class DoyToDate : public testing::TestWithParam<DoyCase> {};
TEST_P(DoyToDate, ProlepticGregorian) {
  const auto& c = GetParam();
  const auto r = set::doy_to_date(c.year, c.doy, 9);
  if (c.date) {
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(*r, *c.date);
  } else {
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), row_error(9, "invalid day-of-year"));
  }
}
CalendarDate dec31(std::int32_t y) { return {y, 12, 31}; }
INSTANTIATE_TEST_SUITE_P(
    Doy, DoyToDate,
    testing::Values(DoyCase{2023, 1, CalendarDate{2023, 1, 1}},
                    DoyCase{2023, 31, CalendarDate{2023, 1, 31}},
                    DoyCase{2023, 32, CalendarDate{2023, 2, 1}},
                    DoyCase{2023, 59, CalendarDate{2023, 2, 28}},
                    DoyCase{2023, 60, CalendarDate{2023, 3, 1}},
                    DoyCase{2024, 60, CalendarDate{2024, 2, 29}},
                    DoyCase{2024, 61, CalendarDate{2024, 3, 1}},
                    DoyCase{2023, 334, CalendarDate{2023, 11, 30}},
                    DoyCase{2023, 365, dec31(2023)}, DoyCase{2000, 366, dec31(2000)},
                    DoyCase{2024, 366, dec31(2024)}, DoyCase{0, 366, dec31(0)},
                    DoyCase{-4, 366, dec31(-4)}, DoyCase{-400, 366, dec31(-400)},
                    DoyCase{-1, 365, dec31(-1)}, DoyCase{INT32_MIN, 366, dec31(INT32_MIN)},
                    DoyCase{INT32_MAX, 365, dec31(INT32_MAX)}, DoyCase{1900, 366, {}},
                    DoyCase{2023, 366, {}}, DoyCase{-1, 366, {}}, DoyCase{-100, 366, {}},
                    DoyCase{2024, 0, {}}, DoyCase{2024, 367, {}}, DoyCase{2024, 65535, {}}));

TEST(DoyToDate, EveryDayOfALeapYearFollowsThePrevious) {
  CalendarDate prev{2024, 1, 0};
  for (std::uint16_t d = 1; d <= 366; ++d) {
    const CalendarDate cur = *set::doy_to_date(2024, d, 1);
    const bool next_day = cur.month == prev.month && cur.day == prev.day + 1;
    const bool next_month = cur.month == prev.month + 1 && cur.day == 1;
    ASSERT_TRUE(next_day || next_month) << "day " << d;
    prev = cur;
  }
}

// --- DTCFILE ---

TEST(DtcfileParse, LengthsCommentsAndRecord) {
  std::vector<std::string> one_to_24;
  for (int i = 1; i <= 24; ++i) one_to_24.push_back(std::to_string(i));
  const std::string line = dtc_line("2000", "366", one_to_24);
  const auto r = set::parse_dtcfile("# head\n   # indented\n\t#tab\n\n  \r\n\xC2\xA0\n" + line +
                                    "\r\n" + line + " any tail 12.x");
  ASSERT_TRUE(r) << outcome(r);
  ASSERT_EQ(r->size(), 2u);
  const DailyRecord& d = (*r)[0];
  EXPECT_EQ(d.date, (CalendarDate{2000, 12, 31}));
  EXPECT_EQ(d.dtc, 12.5);
  EXPECT_FALSE(d.f10_7_obs || d.f10_7_adj || d.f10_7_jb || d.f10_7_jb_81c || d.ap_daily ||
               d.ap_3hr || d.kp_3hr || d.s10_7 || d.m10_7 || d.y10_7);

  EXPECT_EQ(outcome(set::parse_dtcfile(line.substr(0, 108))), row_error(1, "line too short"));
  EXPECT_EQ(outcome(set::parse_dtcfile(line.substr(0, 108) + "\r\n")),
            row_error(1, "line too short"));
  EXPECT_EQ(outcome(set::parse_dtcfile(line + "\r\n")), "ok");
  EXPECT_EQ(outcome(set::parse_dtcfile("\xC3\xA9#!" + line.substr(4))), "ok");  // label unread
}

TEST(DtcfileParse, EmptyAndCommentOnlyFilesGiveNoRecords) {
  for (const char* text : {"", "\n", "# a\n\n   # b\r\n"}) {
    const auto r = set::parse_dtcfile(text);
    ASSERT_TRUE(r) << outcome(r);
    EXPECT_TRUE(r->empty());
  }
}

TEST(DtcfileParse, ByteOrderMarkBeforeHashIsData) {
  EXPECT_EQ(outcome(set::parse_dtcfile("\xEF\xBB\xBF# comment")), row_error(1, "line too short"));
  const std::string bom_line = "\xEF\xBB\xBF#" + std::string(105, ' ');
  EXPECT_EQ(outcome(set::parse_dtcfile(bom_line)), row_error(1, "year"));
}

TEST(DtcfileParse, Utf8IsCheckedBeforeAnyLine) {
  EXPECT_EQ(outcome(set::parse_dtcfile("short\n" + dtc_line("1997", "1") + "\n\xFF")),
            row_error(0, "invalid utf-8"));
  EXPECT_EQ(outcome(set::parse_dtcfile("\xED\xA0\x80")), row_error(0, "invalid utf-8"));
}

TEST(DtcfileParse, KeepsDuplicatesAndYearsAsWritten) {
  const auto r = set::parse_dtcfile(dtc_line("97", "2") + "\n" + dtc_line("97", "2", {"34"}) +
                                    "\n" + dtc_line("-5", "1") + "\n" + dtc_line("0", "60"));
  ASSERT_TRUE(r) << outcome(r);
  ASSERT_EQ(r->size(), 4u);
  EXPECT_EQ((*r)[0].date, (CalendarDate{97, 1, 2}));
  EXPECT_EQ((*r)[1].date, (CalendarDate{97, 1, 2}));
  EXPECT_EQ((*r)[0].dtc, 10.0);
  EXPECT_EQ((*r)[1].dtc, 11.0);
  EXPECT_EQ((*r)[2].date, (CalendarDate{-5, 1, 1}));
  EXPECT_EQ((*r)[3].date, (CalendarDate{0, 2, 29}));
}

struct LineCase {
  std::string line;
  std::string expected;  // "ok", or the message reported at row 4
  double dtc = 10.0;     // the expected mean when the line is accepted
};

class DtcfileLine : public testing::TestWithParam<LineCase> {};
TEST_P(DtcfileLine, AfterThreeComments) {
  const auto& c = GetParam();
  const auto r = set::parse_dtcfile(kThreeComments + c.line);
  if (c.expected == "ok") {
    ASSERT_TRUE(r) << outcome(r);
    EXPECT_EQ(r->at(0).dtc, c.dtc);
  } else {
    EXPECT_EQ(outcome(r), row_error(4, c.expected.c_str()));
  }
}
std::string dtc_with_bytes(std::size_t at, const std::string& bytes) {
  std::string line = dtc_line("2023", "1");
  return line.replace(at, bytes.size(), bytes);
}
INSTANTIATE_TEST_SUITE_P(
    Dtcfile, DtcfileLine,
    testing::Values(
        LineCase{dtc_line("2023", "1", {"-12", "+12"}), "ok", 220.0 / 24},
        LineCase{dtc_line("2023", "1", {"-999", "0034", "  -0"}), "ok", (-999 + 34 + 210) / 24.0},
        LineCase{dtc_with_bytes(13, "7   +8  "), "ok", (7 + 8 + 220) / 24.0},  // left-aligned
        LineCase{dtc_with_bytes(13, "\xC2\xA0" "12"), "ok", (12 + 230) / 24.0},  // NBSP pad
        LineCase{dtc_line("2000", "366"), "ok"}, LineCase{dtc_line("2024", "366"), "ok"},
        LineCase{dtc_line("1900", "366"), "invalid day-of-year"},
        LineCase{dtc_line("2023", "366"), "invalid day-of-year"},
        LineCase{dtc_line("2023", "0"), "invalid day-of-year"},
        LineCase{dtc_line("2023", "-1"), "doy"}, LineCase{dtc_line("2023", "1.0"), "doy"},
        LineCase{dtc_line("2023", ""), "doy"}, LineCase{dtc_line("20x3", "1"), "year"},
        LineCase{dtc_line("", "1"), "year"}, LineCase{dtc_line("20x3", "-1"), "year"},
        LineCase{dtc_line("2023", "-1", {"1.5"}), "doy"},
        LineCase{dtc_line("2023", "1", {"1", "12.0"}), "Dtc"},
        LineCase{dtc_line("2023", "1", {"1", ""}), "Dtc"},
        LineCase{dtc_line("2023", "1", {"1e2"}), "Dtc"},
        LineCase{dtc_line("2023", "1", {"- 5"}), "Dtc"},
        LineCase{dtc_line("2023", "1", {"5-"}), "Dtc"},
        LineCase{dtc_with_bytes(105, "  x "), "Dtc"},  // the last hour
        LineCase{dtc_with_bytes(13, "1 2 "), "Dtc"},
        // A euro sign straddling hours 0 and 1 leaves neither a number.
        LineCase{dtc_with_bytes(15, "\xE2\x82\xAC"), "Dtc"}));

TEST(DtcfileParse, HourFieldsAgreeWithParseIntOnEveryShortForm) {
  // Every four-byte field over these bytes, read as an hour and by parse_int.
  const std::string alphabet = " -+079x.\t";
  const std::string prefix = dtc_line("2023", "1").substr(0, 13);
  const std::string rest = dtc_line("2023", "1").substr(17);
  std::string f(4, ' ');
  int accepted = 0;
  for (char a : alphabet)
    for (char b : alphabet)
      for (char c : alphabet)
        for (char d : alphabet) {
          f = {a, b, c, d};
          const auto r = set::parse_dtcfile(prefix + f + rest);
          const auto v = set::parse_int(f, 1, "Dtc");
          ASSERT_EQ(bool(r), bool(v)) << '[' << f << ']';
          if (r) {
            ++accepted;
            ASSERT_EQ(r->at(0).dtc, (*v + 230.0) / 24) << '[' << f << ']';
          }
        }
  EXPECT_GT(accepted, 100);
}

// --- SOLFSMY ---

TEST(SolfsmyParse, LengthsCommentsAndRecord) {
  const std::string line = sol_line({});
  const auto r = set::parse_solfsmy("# YYYY DDD\n  # indented\n\n" + line + "\r\n" + line +
                                    "  1B11 anything");
  ASSERT_TRUE(r) << outcome(r);
  ASSERT_EQ(r->size(), 2u);
  const DailyRecord& d = (*r)[0];
  EXPECT_EQ(d.date, (CalendarDate{1997, 1, 1}));
  EXPECT_EQ(d.f10_7_jb, 72.4);
  EXPECT_EQ(d.f10_7_jb_81c, 78.0);
  EXPECT_EQ(d.s10_7, 74.0);
  EXPECT_EQ(d.m10_7, 65.4);
  EXPECT_EQ(d.y10_7, 61.9);
  EXPECT_FALSE(d.f10_7_obs || d.f10_7_adj || d.ap_daily || d.ap_3hr || d.kp_3hr || d.dtc);

  EXPECT_EQ(outcome(set::parse_solfsmy(line.substr(0, 63))), row_error(1, "line too short"));
  EXPECT_EQ(outcome(set::parse_solfsmy(line.substr(0, 63) + "\r\n")),
            row_error(1, "line too short"));
  EXPECT_EQ(outcome(set::parse_solfsmy("")), "ok");
  EXPECT_EQ(outcome(set::parse_solfsmy("\xEF\xBB\xBF# not skipped")),
            row_error(1, "line too short"));
  EXPECT_EQ(outcome(set::parse_solfsmy("#\n" + line + "\n\xC3")), row_error(0, "invalid utf-8"));
}

TEST(SolfsmyParse, FieldsFillingTheirColumnsAreReadWhole) {
  // No blank separates neighbouring fields here, so a column off by one changes a value.
  const std::string line = "-12345036512345678.901100.25200.25300.25400.25500.25600.25700.25";
  ASSERT_EQ(line.size(), 64u);
  const auto r = set::parse_solfsmy(line);
  ASSERT_TRUE(r) << outcome(r);
  const DailyRecord& d = (*r)[0];
  EXPECT_EQ(d.date, (CalendarDate{-12345, 12, 31}));
  EXPECT_EQ(d.f10_7_jb, 100.25);
  EXPECT_EQ(d.f10_7_jb_81c, 200.25);
  EXPECT_EQ(d.s10_7, 300.25);
  EXPECT_EQ(d.m10_7, 500.25);
  EXPECT_EQ(d.y10_7, 700.25);
}

TEST(SolfsmyParse, UnreadColumnsMayHoldAnything) {
  std::string line = sol_line({});
  line.replace(10, 12, "JulianDay?é");  // 12 bytes: the é is two
  line.replace(40, 6, "S81c!!");
  line.replace(52, 6, "\xE2\x82\xAC xx");
  const auto r = set::parse_solfsmy(line + "\t¿");
  ASSERT_TRUE(r) << outcome(r);
  EXPECT_EQ((*r)[0].s10_7, 74.0);
  EXPECT_EQ((*r)[0].m10_7, 65.4);
}

struct NumberCase {
  std::string text;
  std::optional<double> value;  // nothing: fails with "F10.7"
};

class SolfsmyNumber : public testing::TestWithParam<NumberCase> {};
TEST_P(SolfsmyNumber, InTheF107Field) {
  Sol s;
  s.f10 = GetParam().text;
  const auto r = set::parse_solfsmy(sol_line(s));
  if (!GetParam().value) {
    EXPECT_EQ(outcome(r), row_error(1, "F10.7"));
    return;
  }
  ASSERT_TRUE(r) << outcome(r);
  const auto& v = (*r)[0].f10_7_jb;
  ASSERT_TRUE(v.has_value());
  if (std::isnan(*GetParam().value))
    EXPECT_TRUE(std::isnan(*v));
  else
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*v), std::bit_cast<std::uint64_t>(*GetParam().value));
}
INSTANTIATE_TEST_SUITE_P(
    Solfsmy, SolfsmyNumber,
    testing::Values(NumberCase{"nan", NAN}, NumberCase{"NaN", NAN}, NumberCase{"1e3", 1000.0},
                    NumberCase{"-1.5", -1.5}, NumberCase{"+inf", INFINITY},
                    NumberCase{"9999.9", 9999.9}, NumberCase{".5", 0.5}, NumberCase{"5.", 5.0},
                    NumberCase{"-0", -0.0}, NumberCase{"72.4  ", 72.4},
                    NumberCase{"\xC2\xA0" "72.4", 72.4}, NumberCase{"72,4", {}},
                    NumberCase{"", {}}, NumberCase{"1 2", {}}, NumberCase{"0x10", {}},
                    NumberCase{"1e", {}}, NumberCase{"72.4x", {}}, NumberCase{"--1", {}}));

struct SolCase {
  Sol sol;
  std::string expected;  // "ok", or the message reported at row 4
};
Sol with(void (*edit)(Sol&)) {
  Sol s;
  edit(s);
  return s;
}

class SolfsmyLine : public testing::TestWithParam<SolCase> {};
TEST_P(SolfsmyLine, AfterThreeComments) {
  const auto r = set::parse_solfsmy(kThreeComments + sol_line(GetParam().sol));
  if (GetParam().expected == "ok")
    EXPECT_TRUE(r) << outcome(r);
  else
    EXPECT_EQ(outcome(r), row_error(4, GetParam().expected.c_str()));
}
INSTANTIATE_TEST_SUITE_P(
    Solfsmy, SolfsmyLine,
    testing::Values(
        SolCase{with([](Sol& s) { s.year = "2024"; s.doy = "366"; }), "ok"},
        SolCase{with([](Sol& s) { s.year = "-400"; s.doy = "366"; }), "ok"},
        SolCase{with([](Sol& s) { s.year = "+0"; s.doy = "+060"; }), "ok"},
        SolCase{with([](Sol& s) { s.year = "2023"; s.doy = "366"; }), "invalid day-of-year"},
        SolCase{with([](Sol& s) { s.doy = "0"; }), "invalid day-of-year"},
        SolCase{with([](Sol& s) { s.doy = "-1"; }), "doy"},
        SolCase{with([](Sol& s) { s.year = "19.7"; }), "year"},
        SolCase{with([](Sol& s) { s.year = "1997x"; s.f10 = "x"; }), "year"},
        SolCase{with([](Sol& s) { s.doy = "-1"; s.f10 = "x"; }), "doy"},
        SolCase{with([](Sol& s) { s.f10 = "72,4"; }), "F10.7"},
        SolCase{with([](Sol& s) { s.f81 = ""; }), "F81c"},
        SolCase{with([](Sol& s) { s.f81 = "1,0"; s.y10 = "x"; }), "F81c"},
        SolCase{with([](Sol& s) { s.s10 = ""; }), "S10.7"},
        SolCase{with([](Sol& s) { s.m10 = "abc"; }), "M10.7"},
        SolCase{with([](Sol& s) { s.y10 = "1 2"; }), "Y10.7"}));

TEST(SolfsmyParse, ACharacterCutByAFieldBoundaryFailsThatField) {
  std::string line = sol_line({});
  line.replace(27, 2, "\xC2\xA0");  // NBSP across the end of F10.7 and the start of F81c
  EXPECT_EQ(outcome(set::parse_solfsmy(line)), row_error(1, "F10.7"));
}

// --- The bundled samples and the published files ---

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(SetSamples, CoverJanuaryToMarch1997) {
  const auto s = set::parse_solfsmy(slurp(HELIODEX_TEST_DATA "/SOLFSMY_sample.TXT"));
  const auto d = set::parse_dtcfile(slurp(HELIODEX_TEST_DATA "/DTCFILE_sample.TXT"));
  ASSERT_TRUE(s) << outcome(s);
  ASSERT_TRUE(d) << outcome(d);
  for (const auto* list : {&*s, &*d}) {
    ASSERT_EQ(list->size(), 60u);
    EXPECT_EQ(list->front().date, (CalendarDate{1997, 1, 1}));
    EXPECT_EQ(list->back().date, (CalendarDate{1997, 3, 1}));
  }
  EXPECT_EQ(s->back().f10_7_jb, 71.8);
  EXPECT_EQ(d->back().dtc, 1992.0 / 24);
}

TEST(SetRealFiles, ParseWithPublishedCountsAndValues) {
  const std::string sol = slurp(HELIODEX_SHARED_DATA "/SOLFSMY.TXT");
  const std::string dtc = slurp(HELIODEX_SHARED_DATA "/DTCFILE.TXT");
  if (sol.empty() || dtc.empty())
    GTEST_SKIP() << "SOLFSMY.TXT or DTCFILE.TXT not found in " HELIODEX_SHARED_DATA;
  const auto s = set::parse_solfsmy(sol);
  const auto d = set::parse_dtcfile(dtc);
  ASSERT_TRUE(s) << outcome(s);
  ASSERT_TRUE(d) << outcome(d);
  ASSERT_EQ(s->size(), 7913u);
  ASSERT_EQ(d->size(), 7912u);
  EXPECT_EQ(s->front().date, (CalendarDate{1997, 1, 1}));
  EXPECT_EQ(d->front().date, (CalendarDate{1997, 1, 1}));
  EXPECT_EQ(s->back().date, (CalendarDate{2018, 8, 31}));
  EXPECT_EQ(d->back().date, (CalendarDate{2018, 8, 30}));
  EXPECT_EQ(s->front().f10_7_jb, 72.4);
  EXPECT_EQ(s->front().y10_7, 61.9);
  EXPECT_EQ(d->front().dtc, 894.0 / 24);
  EXPECT_EQ(d->back().dtc, 710.0 / 24);

  // 30 October 2003, in the Halloween storms.
  const auto day = [](const std::vector<DailyRecord>& v, CalendarDate date) {
    for (const auto& r : v)
      if (r.date == date) return r;
    return DailyRecord{};
  };
  const DailyRecord sh = day(*s, {2003, 10, 30});
  EXPECT_EQ(sh.f10_7_jb, 271.4);
  EXPECT_EQ(sh.f10_7_jb_81c, 140.1);
  EXPECT_EQ(sh.s10_7, 154.0);
  EXPECT_EQ(sh.m10_7, 187.4);
  EXPECT_EQ(sh.y10_7, 180.3);
  EXPECT_EQ(day(*d, {2003, 10, 30}).dtc, 5022.0 / 24);
  EXPECT_EQ(day(*d, {2000, 10, 5}).dtc, 7954.0 / 24);  // the file's largest daily sum
  EXPECT_EQ(day(*s, {2016, 12, 31}).f10_7_jb, 73.5);   // day 366 of a leap year
}

}  // namespace
