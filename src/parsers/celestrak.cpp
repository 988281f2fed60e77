#include "parsers/celestrak.hpp"
namespace heliodex::celestrak {
Result<std::vector<DailyRecord>> parse(std::string_view) { return HeliodexError::invalid_header(); }
}  // namespace heliodex::celestrak
