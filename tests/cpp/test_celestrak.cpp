#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "parsers/celestrak.hpp"

using heliodex::DailyRecord;
using heliodex::HeliodexError;
namespace celestrak = heliodex::celestrak;

namespace {

const std::string kHeader =
    "DATE,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,AP_AVG,"
    "F10.7_OBS,F10.7_ADJ";
const std::string kRow = "2000-01-02,1,2,3,4,5,6,7,8,11,12,13,14,15,16,17,18,20,150.5,151.5";

std::string rename(const std::string& header, const std::string& from, const std::string& to) {
  const std::size_t at = header.find(from);
  return header.substr(0, at) + to + header.substr(at + from.size());
}

std::vector<DailyRecord> ok(const std::string& text) {
  auto r = celestrak::parse(text);
  EXPECT_TRUE(r) << (r ? "" : r.error().message());
  return r ? *r : std::vector<DailyRecord>{};
}

std::string fails(const std::string& text) {
  auto r = celestrak::parse(text);
  EXPECT_FALSE(r);
  return r ? "" : r.error().message();
}

TEST(CelestrakParse, ReadsEveryColumnItNeeds) {
  const auto recs = ok(kHeader + "\n" + kRow + "\n");
  ASSERT_EQ(recs.size(), 1u);
  const DailyRecord& r = recs[0];
  EXPECT_EQ(r.date, (heliodex::CalendarDate{2000, 1, 2}));
  EXPECT_EQ(r.f10_7_obs, 150.5);
  EXPECT_EQ(r.f10_7_adj, 151.5);
  EXPECT_EQ(r.ap_daily, 20.0);
  EXPECT_EQ(*r.kp_3hr, (std::array<double, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(*r.ap_3hr, (std::array<double, 8>{11, 12, 13, 14, 15, 16, 17, 18}));
  EXPECT_FALSE(r.f10_7_jb || r.f10_7_jb_81c || r.s10_7 || r.m10_7 || r.y10_7 || r.dtc);
}

TEST(CelestrakParse, HeaderOnlyEmptyAndCrLf) {
  EXPECT_TRUE(ok(kHeader).empty());
  EXPECT_TRUE(ok(kHeader + "\n").empty());
  const auto lf = ok(kHeader + "\n" + kRow + "\n" + kRow);
  const auto crlf = ok(kHeader + "\r\n" + kRow + "\r\n" + kRow + "\r\n");
  ASSERT_EQ(lf.size(), 2u);
  ASSERT_EQ(crlf.size(), 2u);
  EXPECT_EQ(std::memcmp(&lf[0], &crlf[0], sizeof(DailyRecord)), 0);
}

TEST(CelestrakHeader, RefusedHeaders) {
  const std::string bad = "invalid or missing CSV header";
  EXPECT_EQ(fails(""), bad);
  EXPECT_EQ(fails("\xFF" + kHeader), bad);
  EXPECT_EQ(fails("\n" + kHeader + "\n" + kRow), bad);
  EXPECT_EQ(fails("\xEF\xBB\xBF" + kHeader), bad);
  EXPECT_EQ(fails("date" + kHeader.substr(4)), bad);
  EXPECT_EQ(fails("\"DATE\"" + kHeader.substr(4)), bad);
  for (const char* name : {"KP8", "AP1", "AP_AVG", "F10.7_OBS", "F10.7_ADJ"}) {
    EXPECT_EQ(fails(rename(kHeader, name, "X")), bad) << name;
  }
}

TEST(CelestrakHeader, FallbacksPreferenceTrimmingAndLastOccurrence) {
  // Fallback names only where the preferred ones are missing.
  const std::string h =
      rename(rename(rename(kHeader, "AP_AVG", "AP"), "F10.7_OBS", "F10.7"), "F10.7_ADJ", "F10.7A");
  EXPECT_EQ(ok(h + "\n" + kRow)[0].f10_7_adj, 151.5);
  EXPECT_EQ(ok(h + "\n" + kRow)[0].ap_daily, 20.0);
  // The preferred name wins wherever it stands.
  const auto pref = ok("F10.7,AP," + kHeader + "\n1,2," + kRow)[0];
  EXPECT_EQ(pref.f10_7_obs, 150.5);
  EXPECT_EQ(pref.ap_daily, 20.0);
  // Names are trimmed; the last occurrence of a name is read.
  const auto trimmed = ok(" DATE\t," + kHeader.substr(5) + ",F10.7_OBS \n" + kRow + ",99.5")[0];
  EXPECT_EQ(trimmed.f10_7_obs, 99.5);
}

TEST(CelestrakRows, ErrorRowsCountBlankLines) {
  const std::string body = kHeader + "\n" + kRow + "\n\n  \t\n";
  EXPECT_EQ(fails(body + "2000-13-01"), "parse error at row 5: invalid date");
  EXPECT_EQ(fails(kHeader + "\n,,,,"), "parse error at row 2: invalid date");
  EXPECT_EQ(fails(kHeader + "\n# comment"), "parse error at row 2: invalid date");
}

TEST(CelestrakRows, DateRule) {
  for (const char* good : {"2000-1-2", "+2000-+01-+02", "02000-001-002", " 2000-01-02 ",
                           "2147483647-12-31", "0-02-30"})
    EXPECT_EQ(ok(kHeader + "\n" + good + ",1").size(), 1u) << good;
  for (const char* bad : {"2000-00-01", "2000-13-01", "2000-01-00", "2000-01-32", "2000-01",
                          "2000-01-01-01", "2000/01/01", "2000-01-01T00", "2000- 01-01",
                          "2000-++1-01", "2147483648-01-01", "2000-256-01", "-1-01-01", ""})
    EXPECT_EQ(fails(kHeader + "\n" + std::string(bad) + ",1"),
              "parse error at row 2: invalid date")
        << bad;
}

TEST(CelestrakValues, FillValuesBlanksAndNonNumbersAreAbsent) {
  const auto field = [](const std::string& v) {
    return ok(kHeader + "\n2000-01-01" + std::string(18, ',') + v)[0].f10_7_obs;
  };
  for (const char* absent : {"", "  ", "9999.9", "99999", "999.9", "abc", "12abc", "1.2.3"})
    EXPECT_FALSE(field(absent)) << absent;
  EXPECT_EQ(field("9999.90"), 9999.9);
  EXPECT_EQ(field(" 99999.0 "), 99999.0);
  ASSERT_TRUE(field("nan"));
  EXPECT_TRUE(std::isnan(*field("NaN")));
}

TEST(CelestrakValues, GroupsOfEightAreAllOrNothingAndIndependent) {
  const auto r = ok(kHeader + "\n2000-01-01,1,2,3,4,5,6,7,,11,12,13,14,15,16,17,18")[0];
  EXPECT_FALSE(r.kp_3hr);
  EXPECT_TRUE(r.ap_3hr);
  EXPECT_FALSE(r.ap_daily);  // short line: missing columns are absent
  const auto recs = ok(kHeader + "\n2000-02-30\n2000-02-30," + kRow.substr(11));
  ASSERT_EQ(recs.size(), 2u);  // repeated dates are all kept, in file order
  EXPECT_FALSE(recs[0].f10_7_obs);
  EXPECT_EQ(recs[1].f10_7_obs, 150.5);
}

TEST(CelestrakRealFile, ParsesSwAll) {
  std::ifstream in(HELIODEX_SHARED_DATA "/SW-All.csv", std::ios::binary);
  if (!in) GTEST_SKIP() << "shared data not present: " HELIODEX_SHARED_DATA;
  std::stringstream ss;
  ss << in.rdbuf();
  const auto recs = ok(ss.str());
  ASSERT_EQ(recs.size(), 24888u);
  EXPECT_EQ(recs.front().date, (heliodex::CalendarDate{1957, 10, 1}));
  EXPECT_EQ(recs.front().f10_7_obs, 269.3);
  EXPECT_EQ((*recs.front().kp_3hr)[0], 43.0);
  EXPECT_EQ(recs.back().date, (heliodex::CalendarDate{2041, 10, 1}));
  EXPECT_FALSE(recs.back().ap_3hr);
}

}  // namespace
