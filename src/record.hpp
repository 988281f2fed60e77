#pragma once
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace heliodex {

// A day of the proleptic Gregorian calendar; validates nothing.
struct CalendarDate {
  std::int32_t year = 0;
  std::uint8_t month = 0;
  std::uint8_t day = 0;
  friend constexpr auto operator<=>(const CalendarDate&, const CalendarDate&) = default;
};

using Index = std::optional<double>;
using Index8 = std::optional<std::array<double, 8>>;

// One day's indices; every index is optional, an array of eight counts as one index.
struct DailyRecord {
  CalendarDate date;
  Index f10_7_obs;
  Index f10_7_adj;
  Index f10_7_jb;
  Index f10_7_jb_81c;
  Index ap_daily;
  Index8 ap_3hr;
  Index8 kp_3hr;
  Index s10_7;
  Index m10_7;
  Index y10_7;
  Index dtc;
};
static_assert(std::is_trivially_copyable_v<DailyRecord>);

// Visits the eleven index fields in record order with their names.
template <class Record, class F>
constexpr void for_each_index(Record& r, F&& f) {
  f("f10_7_obs", r.f10_7_obs);
  f("f10_7_adj", r.f10_7_adj);
  f("f10_7_jb", r.f10_7_jb);
  f("f10_7_jb_81c", r.f10_7_jb_81c);
  f("ap_daily", r.ap_daily);
  f("ap_3hr", r.ap_3hr);
  f("kp_3hr", r.kp_3hr);
  f("s10_7", r.s10_7);
  f("m10_7", r.m10_7);
  f("y10_7", r.y10_7);
  f("dtc", r.dtc);
}

// The nine scalar indices in export order (the 3-hourly groups follow them).
inline constexpr Index DailyRecord::*kScalarIndices[] = {
    &DailyRecord::f10_7_obs, &DailyRecord::f10_7_adj, &DailyRecord::f10_7_jb,
    &DailyRecord::f10_7_jb_81c, &DailyRecord::ap_daily, &DailyRecord::s10_7,
    &DailyRecord::m10_7, &DailyRecord::y10_7, &DailyRecord::dtc};
inline constexpr const char* kScalarNames[] = {"f10_7_obs", "f10_7_adj", "f10_7_jb",
                                               "f10_7_jb_81c", "ap_daily", "s10_7",
                                               "m10_7", "y10_7", "dtc"};

}  // namespace heliodex
