#pragma once
#include <string_view>
#include <vector>

#include "record.hpp"
#include "result.hpp"

namespace heliodex::celestrak {

// Parses a whole CelesTrak CSV file into one record per non-blank data line, in file order.
Result<std::vector<DailyRecord>> parse(std::string_view bytes);

}  // namespace heliodex::celestrak
