#include "store/heliodex_store.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>

#include "memory.hpp"

namespace heliodex {
namespace {

template <class T>
void fill(T& keep, const T& other) noexcept {
  if (!keep) keep = other;
}

// Every index of keep that is absent takes other's value (an array as a whole).
void fill_absent(DailyRecord& keep, const DailyRecord& other) noexcept {
  fill(keep.f10_7_obs, other.f10_7_obs);
  fill(keep.f10_7_adj, other.f10_7_adj);
  fill(keep.f10_7_jb, other.f10_7_jb);
  fill(keep.f10_7_jb_81c, other.f10_7_jb_81c);
  fill(keep.ap_daily, other.ap_daily);
  fill(keep.ap_3hr, other.ap_3hr);
  fill(keep.kp_3hr, other.kp_3hr);
  fill(keep.s10_7, other.s10_7);
  fill(keep.m10_7, other.m10_7);
  fill(keep.y10_7, other.y10_7);
  fill(keep.dtc, other.dtc);
}

bool date_less(const DailyRecord& a, const DailyRecord& b) noexcept { return a.date < b.date; }

// True when every date is later than the one before: the store's order, one record a day.
bool strictly_ascending(const std::vector<DailyRecord>& records) noexcept {
  return std::adjacent_find(records.begin(), records.end(),
                            [](const DailyRecord& a, const DailyRecord& b) {
                              return !(a.date < b.date);
                            }) == records.end();
}

// The date as one number in the order of CalendarDate.
std::uint64_t date_key(CalendarDate d) noexcept {
  const std::uint64_t year = static_cast<std::uint32_t>(d.year) ^ 0x80000000u;
  return year << 16 | std::uint64_t{d.month} << 8 | d.day;
}

// The records in date order, each run of one date collapsed as dedup_merge does. Positions
// are sorted by date, ties in input order as a stable sort keeps them, and each record is
// then copied once to its place: far less to move than sorting the 296-byte records.
std::vector<DailyRecord> sorted_and_collapsed(const std::vector<DailyRecord>& records) {
  struct Key {
    std::uint64_t date;
    std::size_t at;
  };
  std::vector<Key> keys(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) keys[i] = {date_key(records[i].date), i};
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    return a.date < b.date || (a.date == b.date && a.at < b.at);
  });
  std::size_t days = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) days += i == 0 || keys[i].date != keys[i - 1].date;
  std::vector<DailyRecord> out;
  out.reserve(days);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const DailyRecord& r = records[keys[i].at];
    if (i > 0 && keys[i].date == keys[i - 1].date)
      fill_absent(out.back(), r);
    else
      out.push_back(r);
  }
  return out;
}

void sort_and_collapse(std::vector<DailyRecord>& records) {
  // Parser output is usually in order, one record a day: then one look at the dates is all.
  if (strictly_ascending(records)) return;
  if (!std::is_sorted(records.begin(), records.end(), date_less)) {
    records = sorted_and_collapsed(records);
    return;
  }
  const std::size_t written = records.size();
  dedup_merge(records);
  // The records written behind the kept ones: their pages go back, so that the store holds
  // what its records need (a file of many lines of a few days holds a few days).
  release_pages(records.data() + records.size(),
                (written - records.size()) * sizeof(DailyRecord));
}

// A count of days that grows by one from each real day to the next (days from the civil
// calendar). Any field values give some number: it only guides a search.
std::int64_t day_number(CalendarDate d) noexcept {
  const std::int64_t m = d.month, y = std::int64_t{d.year} - (m <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d.day - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
}

// The first record not before date. Stored days are mostly consecutive, so the record as far
// from the first as date is days from it is tried first: one look instead of a search through
// the whole store, whose records would each be a cache miss.
std::vector<DailyRecord>::const_iterator find_first_not_before(
    const std::vector<DailyRecord>& records, CalendarDate date) noexcept {
  if (!records.empty()) {
    const std::int64_t offset = day_number(date) - day_number(records.front().date);
    if (offset >= 0 && offset < static_cast<std::int64_t>(records.size())) {
      const auto guess = records.begin() + static_cast<std::ptrdiff_t>(offset);
      if (guess->date == date) return guess;  // the days are unique, so nothing before is
    }
  }
  return std::lower_bound(records.begin(), records.end(), date,
                          [](const DailyRecord& r, CalendarDate d) { return r.date < d; });
}

}  // namespace

void dedup_merge(std::vector<DailyRecord>& records) noexcept {
  if (records.size() < 2) return;
  std::size_t w = 0;
  for (std::size_t i = 1; i < records.size(); ++i) {
    DailyRecord& r = records[i];
    DailyRecord& keep = records[w];
    if (r.date == keep.date) {
      fill_absent(keep, r);
    } else {
      ++w;
      if (w != i) records[w] = r;
    }
  }
  records.resize(w + 1);
}

HeliodexStore HeliodexStore::make(std::vector<DailyRecord> records) {
  sort_and_collapse(records);
  HeliodexStore s;
  s.records_ = std::move(records);
  return s;
}

HeliodexStore HeliodexStore::make_ascending(std::vector<DailyRecord> records) noexcept {
  assert(strictly_ascending(records));
  HeliodexStore s;
  s.records_ = std::move(records);
  return s;
}

std::optional<std::pair<CalendarDate, CalendarDate>> HeliodexStore::date_range() const noexcept {
  if (records_.empty()) return std::nullopt;
  return std::pair{records_.front().date, records_.back().date};
}

namespace {

// Merges `from` into `place` where place's capacity holds the n_out records of the result,
// walking both lists from their ends and writing the result from its end: the records of place
// not yet moved then always lie at or before the write position, and those already where they
// belong are not copied at all. On a shared date the record of the side that wins (place's
// where place_wins) is kept, its absent indices filled from the other's.
void merge_in_place(std::vector<DailyRecord>& place, const std::vector<DailyRecord>& from,
                    std::size_t n_out, bool place_wins) {
  std::size_t i = place.size(), j = from.size(), k = n_out;  // each one past its next record
  place.resize(n_out);  // no allocation: the capacity holds it
  DailyRecord* const out = place.data();
  while (j > 0 && k != i) {
    const DailyRecord& theirs = from[j - 1];
    if (i > 0 && theirs.date < out[i - 1].date) {
      out[--k] = out[--i];
    } else if (i > 0 && out[i - 1].date == theirs.date) {
      --i;
      DailyRecord kept = place_wins ? out[i] : theirs;
      fill_absent(kept, place_wins ? theirs : out[i]);
      out[--k] = kept;
      --j;
    } else {
      out[--k] = theirs;
      --j;
    }
  }
  // Every record still to place from `from` shares its date with one of place's, which
  // stand where they belong already: only the winner's fields are to settle.
  for (; j > 0; --j) {
    const DailyRecord& theirs = from[j - 1];
    while (out[i - 1].date != theirs.date) --i;
    DailyRecord& mine = out[--i];
    if (place_wins) {
      fill_absent(mine, theirs);
    } else {
      DailyRecord kept = theirs;
      fill_absent(kept, mine);
      mine = kept;
    }
  }
}

}  // namespace

void HeliodexStore::merge(HeliodexStore&& other) {
  std::vector<DailyRecord> taken = std::move(other.records_);
  other.records_ = {};
  if (taken.empty()) return;
  // Both lists are in date order with one record a date, so one walk through both gives the
  // order that a stable sort of this store's records followed by the other's would, and
  // collapses each shared date as dedup_merge would: this store's record first. A first walk
  // over the dates alone counts the result, so that the new list is allocated at its size.
  const std::vector<DailyRecord>& mine = records_;
  const std::size_t n_mine = mine.size(), n_taken = taken.size();
  std::size_t shared = 0;
  for (std::size_t i = 0, j = 0; i < n_mine && j < n_taken;) {
    const CalendarDate a = mine[i].date, b = taken[j].date;
    i += !(b < a);
    j += !(a < b);
    shared += a == b;
  }
  const std::size_t n_out = n_mine + n_taken - shared;
  // Into the room that either list has already: no fresh memory to take and fault in.
  if (records_.capacity() >= n_out) {
    merge_in_place(records_, taken, n_out, true);
    return;
  }
  if (taken.capacity() >= n_out) {
    merge_in_place(taken, records_, n_out, false);
    records_ = std::move(taken);
    return;
  }
  std::vector<DailyRecord> all;
  all.reserve(n_out);
  std::size_t i = 0, j = 0;
  // Runs from one side are copied whole.
  const auto copy_run = [&all](const std::vector<DailyRecord>& from, std::size_t& k,
                               const auto& before_end) {
    std::size_t end = k;
    while (end < from.size() && before_end(from[end].date)) ++end;
    all.insert(all.end(), from.begin() + static_cast<std::ptrdiff_t>(k),
               from.begin() + static_cast<std::ptrdiff_t>(end));
    k = end;
  };
  while (i < n_mine && j < n_taken) {
    const CalendarDate a = mine[i].date, b = taken[j].date;
    if (a < b) {
      copy_run(mine, i, [b](CalendarDate d) { return d < b; });
    } else if (b < a) {
      copy_run(taken, j, [a](CalendarDate d) { return d < a; });
    } else {
      all.push_back(mine[i++]);
      fill_absent(all.back(), taken[j++]);
    }
  }
  all.insert(all.end(), mine.begin() + static_cast<std::ptrdiff_t>(i), mine.end());
  all.insert(all.end(), taken.begin() + static_cast<std::ptrdiff_t>(j), taken.end());
  records_ = std::move(all);
}

const DailyRecord* HeliodexStore::get(CalendarDate date) const noexcept {
  const auto it = find_first_not_before(records_, date);
  if (it == records_.end() || it->date != date) return nullptr;
  return &*it;
}

std::span<const DailyRecord> HeliodexStore::get_range(CalendarDate start,
                                                      CalendarDate end) const noexcept {
  if (end < start || records_.empty()) return {};
  const auto lo = find_first_not_before(records_, start);
  auto hi = find_first_not_before(records_, end);
  if (hi != records_.end() && hi->date == end) ++hi;
  return {records_.data() + (lo - records_.begin()), static_cast<std::size_t>(hi - lo)};
}

}  // namespace heliodex
