#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

// Text helpers shared by every parser: UTF-8 check, line splitting, trimming, numbers.
namespace heliodex::text {

// True when the bytes form valid UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool is_utf8(std::string_view bytes) noexcept;

// Cuts text at every LF; a CR directly before the LF goes with it; a final LF adds no line.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text) noexcept : rest_(text) {}
  // Stores the next line and returns true, or returns false when the text is exhausted.
  bool next(std::string_view& line) noexcept;

 private:
  std::string_view rest_;
  bool done_ = false;
};

// The number of line feeds in the text (an upper bound for the lines that follow the first).
std::size_t count_line_feeds(std::string_view text) noexcept;

// Removes Unicode White_Space from both ends; bytes that are not valid UTF-8 stay.
std::string_view trim(std::string_view s) noexcept;

// Reads the whole text by the decimal number grammar (sign, digits with at most one point,
// exponent; or inf, infinity, nan in any case). No trimming. Nothing when it does not match.
std::optional<double> parse_number(std::string_view s) noexcept;

}  // namespace heliodex::text
