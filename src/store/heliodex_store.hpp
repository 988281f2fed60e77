#pragma once
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "heliodex_index.hpp"

namespace heliodex {

// Collapses runs of equal dates in a date-sorted list, in place: per index, the first
// present value in list order wins.
void dedup_merge(std::vector<DailyRecord>& records) noexcept;

// Records in strictly ascending date order, one per date, stored contiguously.
class HeliodexStore final : public HeliodexIndex {
 public:
  HeliodexStore() = default;
  // Takes the records over in any order; sorts stably and collapses equal dates.
  static HeliodexStore make(std::vector<DailyRecord> records);
  // Takes over records whose dates the caller has seen strictly ascend, as they are.
  static HeliodexStore make_ascending(std::vector<DailyRecord> records) noexcept;

  std::uint64_t len() const noexcept { return records_.size(); }
  std::optional<std::pair<CalendarDate, CalendarDate>> date_range() const noexcept;
  // Merges other in; this store's present values win. Other is consumed.
  void merge(HeliodexStore&& other);

  const DailyRecord* get(CalendarDate date) const noexcept override;
  std::span<const DailyRecord> get_range(CalendarDate start,
                                         CalendarDate end) const noexcept override;
  std::span<const DailyRecord> records() const noexcept { return records_; }

 private:
  std::vector<DailyRecord> records_;
};

}  // namespace heliodex
