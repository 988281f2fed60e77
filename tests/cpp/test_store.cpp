#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <type_traits>
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

std::vector<CalendarDate> dates(std::span<const DailyRecord> recs) {
  std::vector<CalendarDate> out;
  for (const auto& r : recs) out.push_back(r.date);
  return out;
}

using Dates = std::vector<CalendarDate>;

TEST(StoreOrder, SortsBySignedYearThenMonthThenDay) {
  auto s = HeliodexStore::make({day(1, 1, 1), day(0, 13, 1), day(-1, 12, 31), day(0, 1, 2),
                                day(0, 12, 31), day(-2147483647 - 1, 1, 1)});
  EXPECT_EQ(dates(s.records()), (Dates{{-2147483647 - 1, 1, 1}, {-1, 12, 31}, {0, 1, 2},
                                       {0, 12, 31}, {0, 13, 1}, {1, 1, 1}}));
  EXPECT_NE(s.get({0, 13, 1}), nullptr);
  EXPECT_EQ(s.get({0, 13, 2}), nullptr);
  // A month-13 key falls between December and the next January.
  EXPECT_EQ(dates(s.get_range({0, 12, 31}, {0, 13, 31})), (Dates{{0, 12, 31}, {0, 13, 1}}));
}

TEST(StoreOrder, EmptyStoreFindsNothing) {
  auto s = HeliodexStore::make({});
  EXPECT_EQ(s.len(), 0u);
  EXPECT_FALSE(s.date_range());
  EXPECT_EQ(s.get({2000, 1, 1}), nullptr);
  EXPECT_TRUE(s.get_range({0, 0, 0}, {9999, 1, 1}).empty());
}

TEST(StoreDedup, FirstPresentValueWinsPerFieldAndArraysGoWhole) {
  auto a = day(2000, 1, 1), b = day(2000, 1, 1), c = day(2000, 1, 1);
  a.f10_7_obs = 70.1;
  a.kp_3hr = std::array<double, 8>{1, 2, 3, 4, 5, 6, 7, 8};
  a.s10_7 = NAN;  // a present NaN is a value
  b.f10_7_obs = 80.0;
  b.ap_daily = 5;
  b.kp_3hr = std::array<double, 8>{9, 9, 9, 9, 9, 9, 9, 9};
  b.s10_7 = 1.0;
  b.ap_3hr = std::array<double, 8>{0, 0, 0, 0, 0, 0, 0, 1};
  c.dtc = 30;
  c.ap_daily = 6;
  // Out of order on purpose: the sort must keep the three in input order.
  auto s = HeliodexStore::make({day(2001, 1, 1), a, day(1999, 1, 1), b, c});
  EXPECT_EQ(dates(s.records()), (Dates{{1999, 1, 1}, {2000, 1, 1}, {2001, 1, 1}}));
  const DailyRecord* r = s.get({2000, 1, 1});
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->f10_7_obs, 70.1);
  EXPECT_EQ(r->ap_daily, 5.0);
  EXPECT_EQ(r->dtc, 30.0);
  EXPECT_EQ(r->kp_3hr, a.kp_3hr);
  EXPECT_EQ(r->ap_3hr, b.ap_3hr);
  ASSERT_TRUE(r->s10_7);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(*r->s10_7), std::bit_cast<std::uint64_t>(*a.s10_7));
  EXPECT_FALSE(r->f10_7_adj || r->f10_7_jb || r->f10_7_jb_81c || r->m10_7 || r->y10_7);
}

TEST(StoreDedup, KeepsInputOrderWithinADayOfALargeUnsortedList) {
  std::vector<DailyRecord> recs;
  for (int i = 0; i < 300; ++i) {
    recs.push_back(day(2000, 1, 1 + (i * 7) % 10));
    if (i % 3 == 1) recs.back().dtc = i;  // every third record carries a value
  }
  auto s = HeliodexStore::make(std::move(recs));
  ASSERT_EQ(s.len(), 10u);
  for (int d = 1; d <= 10; ++d) {
    int first = 0;
    while (first % 3 != 1 || 1 + (first * 7) % 10 != d) ++first;
    EXPECT_EQ(s.get({2000, 1, static_cast<std::uint8_t>(d)})->dtc, first) << d;
  }
}

TEST(StoreMerge, ReceiverWinsOtherFillsGapsAndIsConsumed) {
  auto a_d = day(2000, 1, 2), b_d = day(2000, 1, 2), b_e = day(2000, 1, 9);
  a_d.f10_7_obs = 100;
  b_d.f10_7_obs = 120;
  b_d.dtc = 30;
  b_e.y10_7 = 4;
  auto a = HeliodexStore::make({a_d, day(2000, 1, 5)});
  auto b = HeliodexStore::make({b_e, b_d, day(2000, 1, 1)});
  a.merge(std::move(b));
  EXPECT_EQ(b.len(), 0u);  // NOLINT(bugprone-use-after-move): merge leaves it empty
  EXPECT_EQ(dates(a.records()), (Dates{{2000, 1, 1}, {2000, 1, 2}, {2000, 1, 5}, {2000, 1, 9}}));
  EXPECT_EQ(a.get({2000, 1, 2})->f10_7_obs, 100.0);
  EXPECT_EQ(a.get({2000, 1, 2})->dtc, 30.0);
  EXPECT_EQ(a.get({2000, 1, 9})->y10_7, 4.0);
}

TEST(StoreMerge, EmptyStoresOnEitherSide) {
  auto a = HeliodexStore::make({day(2000, 1, 1), day(2000, 1, 3)});
  a.merge(HeliodexStore::make({}));
  EXPECT_EQ(dates(a.records()), (Dates{{2000, 1, 1}, {2000, 1, 3}}));
  auto e = HeliodexStore::make({});
  e.merge(std::move(a));
  EXPECT_EQ(dates(e.records()), (Dates{{2000, 1, 1}, {2000, 1, 3}}));
  EXPECT_EQ(a.len(), 0u);  // NOLINT(bugprone-use-after-move)
}

// A record's date and index bits, one list per field, to compare records exactly.
std::vector<std::vector<std::uint64_t>> as_bits(std::span<const DailyRecord> recs) {
  std::vector<std::vector<std::uint64_t>> out;
  for (const DailyRecord& r : recs) {
    out.push_back({std::bit_cast<std::uint32_t>(r.date.year), r.date.month, r.date.day});
    heliodex::for_each_index(r, [&](const char*, const auto& v) {
      out.emplace_back();
      if constexpr (std::is_same_v<std::decay_t<decltype(v)>, heliodex::Index>) {
        if (v) out.back().push_back(std::bit_cast<std::uint64_t>(*v));
      } else if (v) {
        for (double x : *v) out.back().push_back(std::bit_cast<std::uint64_t>(x));
      }
    });
  }
  return out;
}

// What a store of these records holds, found the plain way: a stable sort, then dedup_merge.
std::vector<DailyRecord> sorted_plainly(std::vector<DailyRecord> recs) {
  std::stable_sort(recs.begin(), recs.end(),
                   [](const DailyRecord& a, const DailyRecord& b) { return a.date < b.date; });
  heliodex::dedup_merge(recs);
  return recs;
}

// Building a store and merging two agree with sorting plainly, on records of a few days that
// repeat in any order: runs from either side, shared days, disjoint stores in either order,
// merged into new memory or into the spare room of either store's list.
TEST(StoreBuild, MakeAndMergeAgreeWithAPlainStableSort) {
  std::mt19937 rng(7);
  const auto random_days = [&](int first, int span, int count) {
    std::vector<DailyRecord> recs;
    for (int k = 0; k < count; ++k) {
      const int n = first + static_cast<int>(rng() % static_cast<unsigned>(span));
      DailyRecord r = day(1999 + n / 300, 1 + n / 25 % 12, 1 + n % 25);
      if (rng() % 2) r.f10_7_obs = rng() % 4;
      if (rng() % 2) r.dtc = rng() % 4;
      if (rng() % 2) r.kp_3hr = std::array<double, 8>{double(rng() % 4)};
      recs.push_back(r);
    }
    if (rng() % 4 == 0)  // in date order, runs of a day included
      std::stable_sort(recs.begin(), recs.end(),
                       [](const DailyRecord& a, const DailyRecord& b) { return a.date < b.date; });
    return recs;
  };
  for (int round = 0; round < 300; ++round) {
    const int span = 1 + round % 50;
    const auto la = random_days(static_cast<int>(rng() % 60), span, round % 40);
    const auto lb = random_days(static_cast<int>(rng() % 60), span, (round * 7) % 40);
    // A list already in order keeps its spare room in the store.
    const auto roomy = [&](const std::vector<DailyRecord>& recs, bool room) {
      if (!room) return recs;
      std::vector<DailyRecord> kept = sorted_plainly(recs);
      kept.reserve(la.size() + lb.size());
      return kept;
    };
    HeliodexStore a = HeliodexStore::make(roomy(la, round % 4 == 1 || round % 4 == 3));
    HeliodexStore b = HeliodexStore::make(roomy(lb, round % 4 >= 2));
    ASSERT_EQ(as_bits(a.records()), as_bits(sorted_plainly(la))) << round;
    std::vector<DailyRecord> both(a.records().begin(), a.records().end());
    both.insert(both.end(), b.records().begin(), b.records().end());
    a.merge(std::move(b));
    ASSERT_EQ(as_bits(a.records()), as_bits(sorted_plainly(both))) << round;
  }
}

TEST(StoreRange, BoundsAreInclusiveAndNeedNotBeStored) {
  auto s = HeliodexStore::make({day(2000, 1, 3), day(2000, 1, 1), day(2000, 1, 5)});
  EXPECT_EQ(s.get_range({2000, 1, 1}, {2000, 1, 5}).size(), 3u);
  EXPECT_EQ(dates(s.get_range({2000, 1, 2}, {2000, 1, 4})), (Dates{{2000, 1, 3}}));
  EXPECT_EQ(dates(s.get_range({2000, 1, 3}, {2000, 1, 3})), (Dates{{2000, 1, 3}}));
  EXPECT_TRUE(s.get_range({2000, 1, 4}, {2000, 1, 4}).empty());
  EXPECT_TRUE(s.get_range({2000, 1, 5}, {2000, 1, 1}).empty());
  EXPECT_EQ(s.get_range({1999, 1, 1}, {2001, 1, 1}).size(), 3u);
  EXPECT_TRUE(s.get_range({2001, 1, 1}, {2002, 1, 1}).empty());
  EXPECT_EQ(s.get_range({2000, 1, 1}, {2000, 1, 5}).data(), s.records().data());  // no copy
  const auto range = s.date_range();
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, (CalendarDate{2000, 1, 1}));
  EXPECT_EQ(range->second, (CalendarDate{2000, 1, 5}));
}

}  // namespace

// Lookups agree with a scan of every record, on runs of consecutive days broken by gaps,
// leap days, days that are no real day (month 13, 30 February) and far-apart years.
TEST(StoreRange, LookupsAgreeWithAScan) {
  std::vector<DailyRecord> recs;
  for (int d = 1; d <= 31; ++d) recs.push_back(day(1999, 12, d));
  for (int d = 1; d <= 29; ++d)
    if (d != 10) recs.push_back(day(2000, 2, d));
  for (const auto& r : {day(2000, 2, 30), day(2000, 13, 1), day(-5, 1, 1), day(2000, 0, 0),
                        day(2147483647, 255, 255), day(-2147483647 - 1, 0, 0)})
    recs.push_back(r);
  for (int d = 1; d <= 20; ++d) recs.push_back(day(2004, 3, d));
  const HeliodexStore s = HeliodexStore::make(recs);
  std::vector<CalendarDate> keys;
  for (const auto& r : s.records()) keys.push_back(r.date);
  for (const auto& k : Dates{{2000, 2, 10}, {2000, 3, 1}, {1999, 11, 30}, {2004, 3, 21}, {0, 1, 1}})
    keys.push_back(k);
  for (const CalendarDate& a : keys) {
    const DailyRecord* found = s.get(a);
    const DailyRecord* scanned = nullptr;
    for (const auto& r : s.records())
      if (r.date == a) scanned = &r;
    EXPECT_EQ(found, scanned) << a.year << '-' << int{a.month} << '-' << int{a.day};
    for (const CalendarDate& b : keys) {
      Dates want;
      for (const auto& r : s.records())
        if (a <= r.date && r.date <= b) want.push_back(r.date);
      ASSERT_EQ(dates(s.get_range(a, b)), want);
    }
  }
}
