#pragma once
#include <span>

#include "record.hpp"

namespace heliodex {

// Read-only lookups into a date-ordered record sequence; results point into it.
class HeliodexIndex {
 public:
  virtual ~HeliodexIndex() = default;
  // The record of that date, or nullptr.
  virtual const DailyRecord* get(CalendarDate date) const noexcept = 0;
  // The records with start <= date <= end, ascending; empty when start > end.
  virtual std::span<const DailyRecord> get_range(CalendarDate start,
                                                 CalendarDate end) const noexcept = 0;
};

}  // namespace heliodex
