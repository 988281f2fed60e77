#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "parsers/set.hpp"

using heliodex::CalendarDate;
using heliodex::DailyRecord;
namespace set = heliodex::set;

namespace {

// A DTCFILE line: label, year, doy and 24 hourly values, each in its four columns.
std::string dtc_line(const std::string& year, const std::string& doy,
                     const std::vector<std::string>& hours = {}) {
  char buf[16];
  std::string line = "DTC " + std::string(4 - std::min<std::size_t>(4, year.size()), ' ') + year;
  line += std::string(5 - std::min<std::size_t>(5, doy.size()), ' ') + doy;
  for (std::size_t k = 0; k < 24; ++k) {
    std::snprintf(buf, sizeof buf, "%4s", k < hours.size() ? hours[k].c_str() : "10");
    line += buf;
  }
  return line;
}

// A SOLFSMY line with the five read values set, the rest filler.
std::string sol_line(const std::string& year, const std::string& doy, const char* f10 = "72.4",
                     const char* f81 = "78.0", const char* s10 = "74.0",
                     const char* m10 = "65.4", const char* y10 = "61.9") {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%6s%4s%12s%6s%6s%6s%6s%6s%6s%6s", year.c_str(), doy.c_str(),
                "2450450.0", f10, f81, s10, "79.2", m10, "73.8", y10);
  return buf;
}

std::string error_of(const heliodex::Result<std::vector<DailyRecord>>& r) {
  return r ? "" : r.error().message();
}

TEST(SetIntegers, SignedAndUnsignedForms) {
  EXPECT_EQ(*set::parse_int("  -12 ", 1, "Dtc"), -12);
  EXPECT_EQ(*set::parse_int("+007", 1, "Dtc"), 7);
  EXPECT_EQ(*set::parse_int("-2147483648", 1, "Dtc"), INT32_MIN);
  for (const char* bad : {"", "  ", "-", "12.0", "1e2", "1 2", "2147483648", "--1", "\xE2\x80"})
    EXPECT_EQ(set::parse_int(bad, 3, "year").error().message(), "parse error at row 3: year")
        << bad;
  EXPECT_EQ(*set::parse_int("+65535", 1), 65535);
  for (const char* bad : {"-1", "-0", "65536", "", "+"})
    EXPECT_EQ(set::parse_int(bad, 2).error().message(), "parse error at row 2: doy") << bad;
}

TEST(SetDayOfYear, ProlepticGregorianForAnySignedYear) {
  EXPECT_EQ(*set::doy_to_date(2023, 1, 1), (CalendarDate{2023, 1, 1}));
  EXPECT_EQ(*set::doy_to_date(2023, 32, 1), (CalendarDate{2023, 2, 1}));
  EXPECT_EQ(*set::doy_to_date(2023, 60, 1), (CalendarDate{2023, 3, 1}));
  EXPECT_EQ(*set::doy_to_date(2024, 60, 1), (CalendarDate{2024, 2, 29}));
  EXPECT_EQ(*set::doy_to_date(2023, 365, 1), (CalendarDate{2023, 12, 31}));
  for (int year : {2000, 2024, 0, -4, -400})
    EXPECT_EQ(*set::doy_to_date(year, 366, 1), (CalendarDate{year, 12, 31})) << year;
  for (int year : {1900, 2023, -1, -100})
    EXPECT_EQ(set::doy_to_date(year, 366, 9).error().message(),
              "parse error at row 9: invalid day-of-year")
        << year;
  EXPECT_FALSE(set::doy_to_date(2024, 0, 1));
}

TEST(DtcfileParse, MeanLengthsCommentsAndRows) {
  std::vector<std::string> one_to_24;
  for (int i = 1; i <= 24; ++i) one_to_24.push_back(std::to_string(i));
  const std::string line = dtc_line("2000", "366", one_to_24);
  ASSERT_EQ(line.size(), 109u);
  auto r = set::parse_dtcfile("# head\n   # indented\n\n" + line + "\r\n" + line + " tail");
  ASSERT_TRUE(r) << error_of(r);
  ASSERT_EQ(r->size(), 2u);
  EXPECT_EQ((*r)[0].date, (CalendarDate{2000, 12, 31}));
  EXPECT_EQ((*r)[0].dtc, 12.5);
  EXPECT_FALSE((*r)[0].f10_7_obs || (*r)[0].s10_7 || (*r)[0].kp_3hr);
  EXPECT_EQ(set::parse_dtcfile("")->size(), 0u);
  EXPECT_EQ(error_of(set::parse_dtcfile(line.substr(0, 108) + "\r\n")),
            "parse error at row 1: line too short");
  EXPECT_EQ(error_of(set::parse_dtcfile("\xEF\xBB\xBF# not a comment")),
            "parse error at row 1: line too short");
  EXPECT_EQ(error_of(set::parse_dtcfile("#\n" + line + "\n\xFF")),
            "parse error at row 0: invalid utf-8");
  EXPECT_EQ(set::parse_dtcfile(dtc_line("97", "1"))->at(0).date.year, 97);
}

TEST(DtcfileParse, FieldErrorsNameTheField) {
  const std::string pre = "#\n#\n#\n";
  const auto err = [&](const std::string& line) { return error_of(set::parse_dtcfile(pre + line)); };
  EXPECT_EQ(err(dtc_line("20x0", "1")), "parse error at row 4: year");
  EXPECT_EQ(err(dtc_line("2000", "-1")), "parse error at row 4: doy");
  EXPECT_EQ(err(dtc_line("2023", "366")), "parse error at row 4: invalid day-of-year");
  EXPECT_EQ(err(dtc_line("2023", "0")), "parse error at row 4: invalid day-of-year");
  EXPECT_EQ(err(dtc_line("2023", "1", {"1", "12.0"})), "parse error at row 4: Dtc");
  EXPECT_EQ(err(dtc_line("2023", "1", {"1", ""})), "parse error at row 4: Dtc");
  auto signed_values = set::parse_dtcfile(dtc_line("2023", "1", {"-12", "+12"}));
  ASSERT_TRUE(signed_values);
  EXPECT_EQ((*signed_values)[0].dtc, (-12.0 + 12.0 + 22 * 10.0) / 24);
  // A multi-byte character cut by a field boundary fails as that field.
  std::string cut = dtc_line("2023", "1");
  cut.replace(15, 3, "\xE2\x82\xAC");
  EXPECT_EQ(err(cut), "parse error at row 4: Dtc");
}

TEST(SolfsmyParse, ValuesLengthsAndErrors) {
  const std::string line = sol_line("1997", "1");
  ASSERT_EQ(line.size(), 64u);
  auto r = set::parse_solfsmy("# YYYY DDD\n" + line + "\n" + sol_line("2024", "366") + "Ssrc");
  ASSERT_TRUE(r) << error_of(r);
  ASSERT_EQ(r->size(), 2u);
  const DailyRecord& d = (*r)[0];
  EXPECT_EQ(d.date, (CalendarDate{1997, 1, 1}));
  EXPECT_EQ(d.f10_7_jb, 72.4);
  EXPECT_EQ(d.f10_7_jb_81c, 78.0);
  EXPECT_EQ(d.s10_7, 74.0);
  EXPECT_EQ(d.m10_7, 65.4);
  EXPECT_EQ(d.y10_7, 61.9);
  EXPECT_FALSE(d.f10_7_obs || d.ap_daily || d.dtc || d.kp_3hr);
  EXPECT_EQ((*r)[1].date, (CalendarDate{2024, 12, 31}));

  std::string letters = line;
  letters.replace(12, 8, "abcdefgh");  // unread columns may hold anything
  letters.replace(40, 6, "xxxxxx");
  EXPECT_TRUE(set::parse_solfsmy(letters));
  EXPECT_EQ(error_of(set::parse_solfsmy(line.substr(0, 63))),
            "parse error at row 1: line too short");
  const auto err = [](const std::string& l) { return error_of(set::parse_solfsmy("#\n#\n#\n" + l)); };
  EXPECT_EQ(err(sol_line("1997", "1", "72,4")), "parse error at row 4: F10.7");
  EXPECT_EQ(err(sol_line("1997", "1", "72.4", "")), "parse error at row 4: F81c");
  EXPECT_EQ(err(sol_line("1997", "1", "72.4", "78", "")), "parse error at row 4: S10.7");
  EXPECT_EQ(err(sol_line("1997", "1", "72.4", "78", "1", "x")), "parse error at row 4: M10.7");
  EXPECT_EQ(err(sol_line("1997", "1", "72.4", "78", "1", "1", "1 2")), "parse error at row 4: Y10.7");
  EXPECT_EQ(err(sol_line("1997", "0")), "parse error at row 4: invalid day-of-year");
  EXPECT_EQ(err(sol_line("1997", "366")), "parse error at row 4: invalid day-of-year");
  EXPECT_EQ(err(sol_line("19.7", "1")), "parse error at row 4: year");
  EXPECT_EQ(error_of(set::parse_solfsmy("\xC3")), "parse error at row 0: invalid utf-8");
  auto special = set::parse_solfsmy(sol_line("-5", "1", "nan", "1e3", "9999.9"));
  ASSERT_TRUE(special);
  EXPECT_TRUE(std::isnan(*(*special)[0].f10_7_jb));
  EXPECT_EQ((*special)[0].f10_7_jb_81c, 1000.0);
  EXPECT_EQ((*special)[0].s10_7, 9999.9);  // no fill values in this format
  EXPECT_EQ((*special)[0].date.year, -5);
}

std::string slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(SetRealFiles, ParseSolfsmyAndDtcfile) {
  const std::string sol = slurp(HELIODEX_SHARED_DATA "/SOLFSMY.TXT");
  const std::string dtc = slurp(HELIODEX_SHARED_DATA "/DTCFILE.TXT");
  if (sol.empty() || dtc.empty()) GTEST_SKIP() << "shared data not present: " HELIODEX_SHARED_DATA;
  auto s = set::parse_solfsmy(sol);
  auto d = set::parse_dtcfile(dtc);
  ASSERT_TRUE(s && d);
  EXPECT_EQ(s->size(), 7913u);
  EXPECT_EQ(d->size(), 7912u);
  EXPECT_EQ(s->front().date, (CalendarDate{1997, 1, 1}));
  EXPECT_EQ(s->front().f10_7_jb, 72.4);
  EXPECT_EQ(d->front().date, (CalendarDate{1997, 1, 1}));
  EXPECT_EQ(d->front().dtc, 894.0 / 24);
}

}  // namespace
