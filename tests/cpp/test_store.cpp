#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "store/heliodex_store.hpp"

using heliodex::CalendarDate;
using heliodex::DailyRecord;
using heliodex::HeliodexStore;

namespace {

DailyRecord day(int y, int m, int d) {
  DailyRecord r{};
  r.date = CalendarDate{y, static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(d)};
  return r;
}

std::vector<CalendarDate> dates(const HeliodexStore& s) {
  std::vector<CalendarDate> out;
  for (const auto& r : s.records()) out.push_back(r.date);
  return out;
}

TEST(StoreOrder, SortsBySignedYearThenMonthThenDay) {
  auto s = HeliodexStore::make({day(1, 1, 1), day(0, 13, 1), day(-1, 12, 31), day(0, 1, 2),
                                day(0, 12, 31)});
  EXPECT_EQ(dates(s), (std::vector<CalendarDate>{{-1, 12, 31}, {0, 1, 2}, {0, 12, 31},
                                                 {0, 13, 1}, {1, 1, 1}}));
  EXPECT_NE(s.get({0, 13, 1}), nullptr);
  EXPECT_EQ(s.get({0, 13, 2}), nullptr);
}

TEST(StoreOrder, EmptyStoreFindsNothing) {
  auto s = HeliodexStore::make({});
  EXPECT_EQ(s.len(), 0u);
  EXPECT_FALSE(s.date_range());
  EXPECT_EQ(s.get({2000, 1, 1}), nullptr);
  EXPECT_TRUE(s.get_range({0, 0, 0}, {9999, 1, 1}).empty());
}

TEST(StoreDedup, FirstPresentValueWinsPerField) {
  auto a = day(2000, 1, 1), b = day(2000, 1, 1), c = day(2000, 1, 1);
  a.f10_7_obs = 70.1;
  a.kp_3hr = std::array<double, 8>{1, 2, 3, 4, 5, 6, 7, 8};
  a.s10_7 = NAN;  // a present NaN is a value
  b.f10_7_obs = 80.0;
  b.ap_daily = 5;
  b.kp_3hr = std::array<double, 8>{9, 9, 9, 9, 9, 9, 9, 9};
  b.s10_7 = 1.0;
  c.dtc = 30;
  c.ap_daily = 6;
  auto s = HeliodexStore::make({a, day(1999, 1, 1), b, c});
  ASSERT_EQ(s.len(), 2u);
  const DailyRecord* r = s.get({2000, 1, 1});
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->f10_7_obs, 70.1);
  EXPECT_EQ(r->ap_daily, 5.0);
  EXPECT_EQ(r->dtc, 30.0);
  EXPECT_EQ((*r->kp_3hr)[7], 8.0);
  ASSERT_TRUE(r->s10_7);
  EXPECT_TRUE(std::isnan(*r->s10_7));
  EXPECT_FALSE(r->ap_3hr);
}

TEST(StoreMerge, ReceiverWinsOtherFillsGapsAndIsConsumed) {
  auto a_d = day(2000, 1, 2);
  a_d.f10_7_obs = 100;
  auto b_d = day(2000, 1, 2);
  b_d.f10_7_obs = 120;
  b_d.dtc = 30;
  auto a = HeliodexStore::make({a_d, day(2000, 1, 5)});
  auto b = HeliodexStore::make({b_d, day(2000, 1, 1), day(2000, 1, 9)});
  a.merge(std::move(b));
  EXPECT_EQ(b.len(), 0u);  // NOLINT(bugprone-use-after-move): merge leaves it empty
  EXPECT_EQ(dates(a), (std::vector<CalendarDate>{{2000, 1, 1}, {2000, 1, 2}, {2000, 1, 5},
                                                 {2000, 1, 9}}));
  EXPECT_EQ(a.get({2000, 1, 2})->f10_7_obs, 100.0);
  EXPECT_EQ(a.get({2000, 1, 2})->dtc, 30.0);
}

TEST(StoreMerge, EmptyStoresOnEitherSide) {
  auto a = HeliodexStore::make({day(2000, 1, 1)});
  a.merge(HeliodexStore::make({}));
  EXPECT_EQ(a.len(), 1u);
  auto e = HeliodexStore::make({});
  e.merge(std::move(a));
  EXPECT_EQ(dates(e), (std::vector<CalendarDate>{{2000, 1, 1}}));
}

TEST(StoreRange, BoundsAreInclusiveAndNeedNotBeStored) {
  auto s = HeliodexStore::make({day(2000, 1, 3), day(2000, 1, 1), day(2000, 1, 5)});
  EXPECT_EQ(s.get_range({2000, 1, 1}, {2000, 1, 5}).size(), 3u);
  EXPECT_EQ(s.get_range({2000, 1, 2}, {2000, 1, 4}).size(), 1u);
  EXPECT_EQ(s.get_range({2000, 1, 3}, {2000, 1, 3}).size(), 1u);
  EXPECT_TRUE(s.get_range({2000, 1, 4}, {2000, 1, 4}).empty());
  EXPECT_TRUE(s.get_range({2000, 1, 5}, {2000, 1, 1}).empty());
  EXPECT_EQ(s.get_range({1999, 1, 1}, {2001, 1, 1}).size(), 3u);
  EXPECT_TRUE(s.get_range({2001, 1, 1}, {2002, 1, 1}).empty());
  const auto range = s.date_range();
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, (CalendarDate{2000, 1, 1}));
  EXPECT_EQ(range->second, (CalendarDate{2000, 1, 5}));
}

}  // namespace
