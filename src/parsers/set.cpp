#include "parsers/set.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <utility>

#include "memory.hpp"
#include "parsers/text.hpp"

namespace heliodex::set {
namespace {

// A field as the bytes [first, last] of a line, both counted from 0.
struct Columns {
  std::size_t first;
  std::size_t last;
};

constexpr std::size_t kDtcMinLength = 109;
constexpr Columns kDtcYear{4, 7};
constexpr Columns kDtcDoy{8, 12};
constexpr std::size_t kDtcFirstHour = 13;
constexpr std::size_t kDtcHourWidth = 4;  // read_hour_fast reads exactly this many bytes
constexpr std::size_t kHours = 24;

constexpr std::size_t kSolMinLength = 64;
constexpr Columns kSolYear{0, 5};
constexpr Columns kSolDoy{6, 9};

struct NumberField {
  Columns cols;
  const char* name;
};
// F10.7, F81c, S10.7, M10.7, Y10.7: read in this order, so the first bad field of a line is
// the one reported. Each is six bytes wide, as read_tenths_fast reads them.
constexpr NumberField kSolNumbers[] = {{{22, 27}, "F10.7"},
                                       {{28, 33}, "F81c"},
                                       {{34, 39}, "S10.7"},
                                       {{46, 51}, "M10.7"},
                                       {{58, 63}, "Y10.7"}};
static_assert(std::all_of(std::begin(kSolNumbers), std::end(kSolNumbers),
                          [](const NumberField& f) { return f.cols.last - f.cols.first == 5; }));

// Appends the record of its members in order. Each is given, so none is zeroed first: a
// value-initialised record, cleared whole, cost a seventh of the parse.
template <class... Members>
void append(std::vector<DailyRecord>& out, Members&&... members) {
#if defined(__cpp_aggregate_paren_init)
  out.emplace_back(std::forward<Members>(members)...);
#else
  out.push_back({std::forward<Members>(members)...});
#endif
}

// Only called on lines already checked to reach past the field.
std::string_view field(std::string_view line, Columns c) noexcept {
  return line.substr(c.first, c.last - c.first + 1);
}

// Fields are blank-padded ASCII: peel the blanks here so text::trim mostly takes its quick exit.
std::string_view trim_field(std::string_view s) noexcept {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return text::trim(s);
}

// [sign] digits of a trimmed text, nothing else, whose value lies in [-max_neg, max_pos].
bool read_integer(std::string_view s, bool allow_minus, std::int64_t max_pos,
                  std::int64_t max_neg, std::int64_t& out) noexcept {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || (allow_minus && s.front() == '-'))) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  const std::int64_t limit = negative ? max_neg : max_pos;
  std::int64_t v = 0;
  for (const char c : s) {
    const auto digit = static_cast<unsigned char>(c - '0');
    if (digit > 9) return false;
    v = v * 10 + digit;
    if (v > limit) return false;  // checked every digit, so v never leaves int64
  }
  out = negative ? -v : v;
  return true;
}

bool read_i32(std::string_view field_text, std::int32_t& out) noexcept {
  std::int64_t v = 0;
  if (!read_integer(trim_field(field_text), true, INT32_MAX, -std::int64_t{INT32_MIN}, v))
    return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

// Four bytes as the files write their integers: blanks, a sign (where kSign allows one),
// then digits to the end. Read at once, since a byte loop mispredicts on the varying number
// of blanks; false for every other form, which the general reading then judges.
template <bool kSign>
[[gnu::always_inline]] inline bool read_four_fast(const char* p, std::int32_t& out) noexcept {
  std::uint32_t w = 0;
  for (int i = 3; i >= 0; --i) w = (w << 8) | static_cast<unsigned char>(p[i]);  // p[0] lowest
  const std::uint32_t t = w ^ 0x30303030u;  // digit bytes become 0 to 9
  const std::uint32_t non_digit = (((t & 0x7F7F7F7Fu) + 0x76767676u) | t) & 0x80808080u;
  const std::uint32_t digit = ~non_digit & 0x80808080u;
  if (digit == 0 || ((digit << 8) & ~digit) != 0) return false;  // digits must end the field
  const int lead = std::countr_zero(digit) >> 3;                   // bytes before the digits
  const std::uint32_t lead_mask = lead == 0 ? 0 : (1u << (8 * lead)) - 1;
  std::uint32_t expected = 0x20202020u & lead_mask;  // blanks, and a sign next to the digits
  bool negative = false;
  if (lead > 0) {
    const int shift = 8 * (lead - 1);
    const auto last = static_cast<unsigned char>(w >> shift);
    if (kSign && (last == '-' || last == '+')) {
      negative = last == '-';
      expected ^= (0x20u ^ last) << shift;
    }
  }
  if ((w & lead_mask) != expected) return false;
  // Leading bytes count as zero digits; fold the four digits pairwise into one number.
  std::uint32_t v = t & ~lead_mask;
  v = v * 10 + (v >> 8);
  v = ((v & 0x00FF00FFu) * (1 + (100u << 16))) >> 16;
  out = negative ? -static_cast<std::int32_t>(v) : static_cast<std::int32_t>(v);
  return true;
}

// The hourly fields of DTCFILE: four bytes each.
bool read_hour_fast(const char* p, std::int32_t& out) noexcept {
  return read_four_fast<true>(p, out);
}

// Two neighbouring hourly fields in their commonest form, blanks and then digits to the end
// of each: both are read from one 64-bit word and added to sum. False for any other form
// (a sign, say), which read_hour_fast and read_i32 then judge field by field.
bool add_two_hours_fast(const char* p, std::int64_t& sum) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
  std::uint64_t w = 0;
  for (int i = 7; i >= 0; --i) w = (w << 8) | static_cast<unsigned char>(p[i]);  // p[0] lowest
  const std::uint64_t t = w ^ (0x30 * kOnes);  // digit bytes become 0 to 9
  const std::uint64_t digit = ~(((t & (0x7F * kOnes)) + 0x76 * kOnes) | t) & kHigh;
  const std::uint64_t x = w ^ (0x20 * kOnes);  // blanks become 0
  const std::uint64_t blank = ~(((x & (0x7F * kOnes)) + 0x7F * kOnes) | x | (0x7F * kOnes));
  constexpr std::uint64_t kLast = 0x8000000080000000u;  // the last byte of each field
  if ((digit | blank) != kHigh || (digit & kLast) != kLast ||
      ((digit << 8) & ~digit & 0xFFFFFF00FFFFFF00u) != 0)  // a blank after a digit, in a field
    return false;
  // Blanks count as zero digits; fold each field's four digits pairwise into one number.
  const std::uint64_t d = t & ((digit >> 7) * 0xFF);
  std::uint64_t v = d * 10 + (d >> 8);
  v = ((v & 0x00FF00FF00FF00FFu) * (1 + (std::uint64_t{100} << 16))) >> 16;
  sum += static_cast<std::int64_t>((v & 0xFFFF) + (v >> 32 & 0xFFFF));
  return true;
}

// The number fields of SOLFSMY as written: blanks, one to four digits, a point and one digit,
// six bytes in all. Read at once into what the number rule makes of them, the digits over
// ten; false for every other form, which that rule then judges.
bool read_tenths_fast(const char* p, double& out) noexcept {
  const auto tenths = static_cast<unsigned char>(p[5] - '0');
  std::int32_t whole = 0;
  if (p[4] != '.' || tenths > 9 || !read_four_fast<false>(p, whole)) return false;
  out = static_cast<double>(whole * 10 + tenths) / 10.0;
  return true;
}

Result<CalendarDate> read_date(std::string_view line, Columns year_cols, Columns doy_cols,
                               std::uint64_t row) {
  auto year = parse_int(field(line, year_cols), row, "year");
  if (!year) return std::move(year).error();
  auto doy = parse_int(field(line, doy_cols), row);
  if (!doy) return std::move(doy).error();
  return doy_to_date(*year, *doy, row);
}

// Appends the record of one data line to out, or gives the line's error.
using LineReader = std::optional<HeliodexError> (*)(std::string_view line, std::uint64_t row,
                                                    std::vector<DailyRecord>& out);

std::optional<HeliodexError> read_dtc_line(std::string_view line, std::uint64_t row,
                                           std::vector<DailyRecord>& out) {
  // The year and day as written (a day without a sign) are read at once; any other form,
  // and every error, by the general reading.
  std::int32_t year = 0, doy = 0;
  auto date = read_four_fast<true>(line.data() + 4, year) && line[12] == ' ' &&
                      read_four_fast<false>(line.data() + 8, doy)
                  ? doy_to_date(year, static_cast<std::uint16_t>(doy), row)
                  : read_date(line, kDtcYear, kDtcDoy, row);
  if (!date) return std::move(date).error();
  // Each value fits 32 bits, so their sum is exact in 64 bits, and again as a double: the
  // same double as adding them up one by one in doubles.
  std::int64_t sum = 0;
  static_assert(kHours % 2 == 0);
  for (std::size_t k = 0; k < kHours; k += 2) {
    if (add_two_hours_fast(line.data() + kDtcFirstHour + kDtcHourWidth * k, sum)) continue;
    for (const std::size_t h : {k, k + 1}) {
      const std::string_view hour = line.substr(kDtcFirstHour + kDtcHourWidth * h, kDtcHourWidth);
      std::int32_t v = 0;
      if (!read_hour_fast(hour.data(), v) && !read_i32(hour, v))
        return HeliodexError::parse_row(row, "Dtc");
      sum += v;
    }
  }
  append(out, *date, Index{}, Index{}, Index{}, Index{}, Index{}, Index8{}, Index8{}, Index{},
         Index{}, Index{}, Index(static_cast<double>(sum) / static_cast<double>(kHours)));
  return std::nullopt;
}

std::optional<HeliodexError> read_sol_line(std::string_view line, std::uint64_t row,
                                           std::vector<DailyRecord>& out) {
  // The year and day as written (a year of up to four digits, a day without a sign) are
  // read at once; any other form, and every error, by the general reading.
  std::int32_t year = 0, doy = 0;
  auto date = line[0] == ' ' && line[1] == ' ' && read_four_fast<true>(line.data() + 2, year) &&
                      read_four_fast<false>(line.data() + 6, doy)
                  ? doy_to_date(year, static_cast<std::uint16_t>(doy), row)
                  : read_date(line, kSolYear, kSolDoy, row);
  if (!date) return std::move(date).error();
  double v[std::size(kSolNumbers)];
  for (std::size_t k = 0; k < std::size(kSolNumbers); ++k) {
    const Columns c = kSolNumbers[k].cols;
    if (!read_tenths_fast(line.data() + c.first, v[k]) &&
        !text::parse_number(trim_field(field(line, c)), v[k]))
      return HeliodexError::parse_row(row, kSolNumbers[k].name);
  }
  append(out, *date, Index{}, Index{}, Index(v[0]), Index(v[1]), Index{}, Index8{}, Index8{},
         Index(v[2]), Index(v[3]), Index(v[4]), Index{});
  return std::nullopt;
}

// The frame both formats share: UTF-8 check, skipped lines, row numbers, minimum length.
// The first fault ends the reading, but not the UTF-8 check, whose error comes first.
struct Reading {
  Reading(LineReader reader, std::size_t min, std::uint64_t hint)
      : read_line(reader), min_length(min), size_hint(hint) {}

  bool reading() const noexcept { return !bad_text && !error; }

  // A run of whole lines, or the file's last line.
  void read(std::string_view run) {
    if (!text::is_ascii(run) && !text::is_utf8(run)) bad_text = true;
    if (!reading()) return;
    if (!sized) size_records(run);
    text::LineSplitter lines(run);
    std::string_view line;
    for (; lines.next(line); ++row) {
      const std::string_view trimmed = trim_field(line);
      if (trimmed.empty() || trimmed.front() == '#') continue;
      if (line.size() < min_length) {
        error = HeliodexError::parse_row(row, "line too short");
        return;
      }
      if (auto bad = read_line(line, row, records)) {
        error = std::move(*bad);
        return;
      }
      ascending &= last < records.back().date;
      last = records.back().date;
    }
  }

  // The list of records is sized from the lines per byte of the first run.
  void size_records(std::string_view run) {
    sized = true;
    reserve_for_file(records, size_hint, run.size(), text::scan_text(run).line_feeds);
  }

  Result<std::vector<DailyRecord>> result() {
    if (bad_text) return HeliodexError::parse_row(0, "invalid utf-8");
    if (error) return std::move(*error);
    return std::move(records);
  }

  LineReader read_line;
  std::size_t min_length;
  std::uint64_t size_hint;
  bool sized = false, bad_text = false, ascending = true;
  CalendarDate last{INT32_MIN, 0, 0};  // before every date a line gives (months start at 1)
  std::uint64_t row = 1;
  std::optional<HeliodexError> error;
  std::vector<DailyRecord> records;
};

Reading reading_for(Format format, std::uint64_t size_hint) {
  return format == Format::dtcfile ? Reading(read_dtc_line, kDtcMinLength, size_hint)
                                   : Reading(read_sol_line, kSolMinLength, size_hint);
}

}  // namespace

Result<std::int32_t> parse_int(std::string_view field_text, std::uint64_t row, const char* name) {
  std::int32_t v = 0;
  if (!read_i32(field_text, v)) return HeliodexError::parse_row(row, name);
  return v;
}

Result<std::uint16_t> parse_int(std::string_view field_text, std::uint64_t row) {
  std::int64_t v = 0;
  if (!read_integer(trim_field(field_text), false, UINT16_MAX, 0, v))
    return HeliodexError::parse_row(row, "doy");
  return static_cast<std::uint16_t>(v);
}

Result<CalendarDate> doy_to_date(std::int32_t year, std::uint16_t doy, std::uint64_t row) {
  // A remainder of 0 means divisible for negative years too, so % serves every year.
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (doy < 1 || doy > (leap ? 366 : 365))
    return HeliodexError::parse_row(row, "invalid day-of-year");
  const unsigned lengths[12] = {31, leap ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  unsigned day = doy;
  unsigned month = 0;
  while (day > lengths[month]) day -= lengths[month++];
  return CalendarDate{year, static_cast<std::uint8_t>(month + 1), static_cast<std::uint8_t>(day)};
}

struct Loader::State {
  State(Format format, std::uint64_t size_hint, std::size_t block)
      : reading(reading_for(format, size_hint)), text(block, 0, 1, size_hint) {}
  Reading reading;
  text::BlockBuffer text;
  bool finished = false;
};

Loader::Loader(Format format, std::uint64_t size_hint, std::size_t block)
    : state_(std::make_unique<State>(format, size_hint, block)) {}

Loader::~Loader() = default;

std::span<char> Loader::space() { return state_->text.space(); }

void Loader::commit(std::size_t n) {
  State& s = *state_;
  const std::string_view run = s.text.commit(n);
  if (s.reading.bad_text)  // the file is refused already: nothing more to look at
    s.text.clear();
  else if (!run.empty())
    s.reading.read(run);
}

bool Loader::refused() const noexcept { return state_->reading.bad_text; }

Result<std::vector<DailyRecord>> Loader::finish(bool* ascending) {
  State& s = *state_;
  if (ascending) *ascending = false;
  if (s.finished) return HeliodexError::parse_row(0, "invalid utf-8");
  s.finished = true;
  if (!s.reading.bad_text)
    if (const std::string_view last = s.text.rest(); !last.empty()) s.reading.read(last);
  auto result = s.reading.result();
  if (ascending && result) *ascending = s.reading.ascending;
  return result;
}

Result<std::vector<DailyRecord>> detail::parse(Format format, std::string_view bytes,
                                               std::size_t block) {
  Loader loader(format, bytes.size(), block);
  text::feed(loader, bytes, block);
  return loader.finish();
}

Result<std::vector<DailyRecord>> parse_dtcfile(std::string_view bytes) {
  return detail::parse(Format::dtcfile, bytes);
}

Result<std::vector<DailyRecord>> parse_solfsmy(std::string_view bytes) {
  return detail::parse(Format::solfsmy, bytes);
}

}  // namespace heliodex::set
