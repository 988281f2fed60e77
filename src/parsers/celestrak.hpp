#pragma once
#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "record.hpp"
#include "result.hpp"

namespace heliodex::celestrak {

// Parses a whole CelesTrak CSV file into one record per non-blank data line, in file order.
// Where ascending is given, it is set to whether the records' dates strictly ascend, which
// spares the store a second look at every record (see HeliodexStore::make_ascending).
Result<std::vector<DailyRecord>> parse(std::string_view bytes, bool* ascending = nullptr);

// The steps of parse, exposed for tests.
namespace detail {

// The line readers: the portable one, and two that cut lines in vector registers of 32
// (half_wide) or 64 bytes (wide) where the CPU has the instructions they need. Every reader
// reads every line alike; a vector reader passes the lines it cannot take to the portable one.
enum class Reader { portable, half_wide, wide };
bool can_run(Reader reader) noexcept;
// The fastest reader this CPU runs; parse uses it.
Reader fastest_reader() noexcept;

// parse, with the given reader where the CPU runs it and the file's columns suit it; else
// with the half-wide reader (for wide) where that can, or the portable one.
Result<std::vector<DailyRecord>> parse_lines(std::string_view bytes, Reader reader,
                                             bool* ascending = nullptr);

// Trimmed header name to its position in the header line; a repeated name keeps its last one.
using HeaderMap = std::unordered_map<std::string_view, std::size_t>;

// The positions of prefix1..prefix8 (prefix "AP" or "KP") in that order, or InvalidHeader.
Result<std::array<std::size_t, 8>> resolve_array_cols(const HeaderMap& header,
                                                      std::string_view prefix);
// A field by the number rule: absent when blank, a fill value, or not a number.
Index parse_f64_opt(std::string_view field) noexcept;
// The eight fields at cols by the number rule, or absent when any one is absent; a position
// past the end of fields reads as an empty field.
Index8 parse_array_8(std::span<const std::string_view> fields,
                     const std::array<std::size_t, 8>& cols) noexcept;

}  // namespace detail
}  // namespace heliodex::celestrak
