#include "parsers/set.hpp"
namespace heliodex::set {
Result<std::vector<DailyRecord>> parse_dtcfile(std::string_view) { return std::vector<DailyRecord>{}; }
Result<std::vector<DailyRecord>> parse_solfsmy(std::string_view) { return std::vector<DailyRecord>{}; }
}  // namespace heliodex::set
