#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "record.hpp"
#include "result.hpp"

namespace heliodex::set {

// Parses a whole SET DTCFILE into one record (the daily mean Dtc) per data line, in file order.
Result<std::vector<DailyRecord>> parse_dtcfile(std::string_view bytes);
// Parses a whole SET SOLFSMY file into one record per data line, in file order.
Result<std::vector<DailyRecord>> parse_solfsmy(std::string_view bytes);

// A trimmed signed 32-bit integer field, or ParseRow(row, name).
Result<std::int32_t> parse_int(std::string_view field, std::uint64_t row, const char* name);
// A trimmed unsigned 16-bit integer field (a day of the year), or ParseRow(row, "doy").
Result<std::uint16_t> parse_int(std::string_view field, std::uint64_t row);
// The date of day `doy` of `year` (proleptic Gregorian), or ParseRow(row, "invalid day-of-year").
Result<CalendarDate> doy_to_date(std::int32_t year, std::uint16_t doy, std::uint64_t row);

}  // namespace heliodex::set
