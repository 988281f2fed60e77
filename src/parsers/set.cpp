#include "parsers/set.hpp"

#include <algorithm>

#include "parsers/text.hpp"

namespace heliodex::set {
namespace {

// Reads an optional sign and digits; false when the text is anything else or exceeds max.
bool read_integer(std::string_view s, bool allow_minus, std::int64_t max_magnitude,
                  std::int64_t& out) noexcept {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || (allow_minus && s[0] == '-'))) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > max_magnitude + 1) return false;  // stays far inside int64
  }
  if (negative) v = -v;
  if (v > max_magnitude || v < -(max_magnitude + 1)) return false;
  out = v;
  return true;
}

// A field's bytes [first, last] of a line already checked to be long enough.
std::string_view columns(std::string_view line, std::size_t first, std::size_t last) noexcept {
  return line.substr(first, last - first + 1);
}

Result<CalendarDate> read_date(std::string_view year_field, std::string_view doy_field,
                               std::uint64_t row) {
  auto year = parse_int(year_field, row, "year");
  if (!year) return year.error();
  auto doy = parse_int(doy_field, row);
  if (!doy) return doy.error();
  return doy_to_date(*year, *doy, row);
}

// Shared frame of both SET formats: UTF-8 check, skipped lines, row numbers, line length.
template <class ReadLine>
Result<std::vector<DailyRecord>> parse_lines(std::string_view bytes, std::size_t min_length,
                                             ReadLine&& read_line) {
  if (!text::is_utf8(bytes)) return HeliodexError::parse_row(0, "invalid utf-8");
  std::vector<DailyRecord> records;
  records.reserve(text::count_line_feeds(bytes) + 1);
  text::LineSplitter lines(bytes);
  std::string_view line;
  for (std::uint64_t row = 1; lines.next(line); ++row) {
    const std::string_view trimmed = text::trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    if (line.size() < min_length) return HeliodexError::parse_row(row, "line too short");
    auto record = read_line(line, row);
    if (!record) return record.error();
    records.push_back(*record);
  }
  return records;
}

Result<double> read_number(std::string_view field, std::uint64_t row, const char* name) {
  if (auto v = text::parse_number(text::trim(field))) return *v;
  return HeliodexError::parse_row(row, name);
}

constexpr std::size_t kDtcLength = 109;
constexpr std::size_t kDtcFirstHour = 13;
constexpr std::size_t kHours = 24;
constexpr std::size_t kSolfsmyLength = 64;

}  // namespace

Result<std::int32_t> parse_int(std::string_view field, std::uint64_t row, const char* name) {
  std::int64_t v = 0;
  if (!read_integer(text::trim(field), true, 2147483647, v))
    return HeliodexError::parse_row(row, name);
  return static_cast<std::int32_t>(v);
}

Result<std::uint16_t> parse_int(std::string_view field, std::uint64_t row) {
  std::int64_t v = 0;
  if (!read_integer(text::trim(field), false, 65535, v))
    return HeliodexError::parse_row(row, "doy");
  return static_cast<std::uint16_t>(v);
}

Result<CalendarDate> doy_to_date(std::int32_t year, std::uint16_t doy, std::uint64_t row) {
  // Divisibility with % holds for negative years too: the remainder is 0 exactly when divisible.
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const unsigned lengths[12] = {31, leap ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (doy < 1 || doy > (leap ? 366 : 365))
    return HeliodexError::parse_row(row, "invalid day-of-year");
  unsigned d = doy, month = 0;
  while (d > lengths[month]) d -= lengths[month++];
  return CalendarDate{year, static_cast<std::uint8_t>(month + 1), static_cast<std::uint8_t>(d)};
}

Result<std::vector<DailyRecord>> parse_dtcfile(std::string_view bytes) {
  return parse_lines(bytes, kDtcLength, [](std::string_view line,
                                           std::uint64_t row) -> Result<DailyRecord> {
    auto date = read_date(columns(line, 4, 7), columns(line, 8, 12), row);
    if (!date) return date.error();
    double sum = 0;
    for (std::size_t k = 0; k < kHours; ++k) {
      const std::size_t first = kDtcFirstHour + 4 * k;
      auto v = parse_int(columns(line, first, first + 3), row, "Dtc");
      if (!v) return v.error();
      sum += static_cast<double>(*v);
    }
    DailyRecord r{};
    r.date = *date;
    r.dtc = sum / static_cast<double>(kHours);
    return r;
  });
}

Result<std::vector<DailyRecord>> parse_solfsmy(std::string_view bytes) {
  return parse_lines(bytes, kSolfsmyLength, [](std::string_view line,
                                               std::uint64_t row) -> Result<DailyRecord> {
    auto date = read_date(columns(line, 0, 5), columns(line, 6, 9), row);
    if (!date) return date.error();
    DailyRecord r{};
    r.date = *date;
    struct Field {
      std::size_t first, last;
      const char* name;
      Index DailyRecord::*target;
    };
    static constexpr Field kFields[] = {{22, 27, "F10.7", &DailyRecord::f10_7_jb},
                                        {28, 33, "F81c", &DailyRecord::f10_7_jb_81c},
                                        {34, 39, "S10.7", &DailyRecord::s10_7},
                                        {46, 51, "M10.7", &DailyRecord::m10_7},
                                        {58, 63, "Y10.7", &DailyRecord::y10_7}};
    for (const Field& f : kFields) {
      auto v = read_number(columns(line, f.first, f.last), row, f.name);
      if (!v) return v.error();
      r.*f.target = *v;
    }
    return r;
  });
}

}  // namespace heliodex::set
