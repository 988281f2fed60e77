#pragma once
#include <string_view>
#include <vector>

#include "record.hpp"
#include "result.hpp"

namespace heliodex::set {

// Parses a whole SET DTCFILE into one record (the daily mean Dtc) per data line, in file order.
Result<std::vector<DailyRecord>> parse_dtcfile(std::string_view bytes);
// Parses a whole SET SOLFSMY file into one record per data line, in file order.
Result<std::vector<DailyRecord>> parse_solfsmy(std::string_view bytes);

}  // namespace heliodex::set
