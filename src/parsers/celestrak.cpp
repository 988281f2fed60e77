#include "parsers/celestrak.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "parsers/text.hpp"

namespace heliodex::celestrak {
namespace {

using detail::HeaderMap;

constexpr std::size_t kBlock = 64;

// Bit i is set when block[i] is a comma or a line feed.
std::uint64_t separator_mask(const char* block) noexcept {
  std::uint64_t mask = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), lf = _mm_set1_epi8('\n');
  for (std::size_t i = 0; i < kBlock / 16; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, lf));
    mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hit))} << (16 * i);
  }
#else
  for (std::size_t i = 0; i < kBlock; ++i)
    mask |= std::uint64_t{block[i] == ',' || block[i] == '\n'} << i;
#endif
  return mask;
}

// Yields the commas and line feeds of a text in order. One pass over the bytes finds both
// the lines and their fields, with no branch per byte.
class SeparatorScan {
 public:
  explicit SeparatorScan(std::string_view text) noexcept : text_(text) { load(); }

  // The offset of the next separator, or the text's size when none is left.
  std::size_t next() noexcept {
    while (mask_ == 0) {
      block_ += kBlock;
      if (block_ >= text_.size()) return text_.size();
      load();
    }
    const std::size_t at = block_ + static_cast<std::size_t>(std::countr_zero(mask_));
    mask_ &= mask_ - 1;
    return at;
  }

 private:
  void load() noexcept {
    const std::size_t left = text_.size() - block_;
    if (left >= kBlock) {
      mask_ = separator_mask(text_.data() + block_);
    } else {
      char tail[kBlock] = {};
      if (left) std::memcpy(tail, text_.data() + block_, left);
      mask_ = separator_mask(tail);
    }
  }

  std::string_view text_;
  std::size_t block_ = 0;
  std::uint64_t mask_ = 0;
};

// One date part: at most one leading '+', then one or more ASCII digits, worth at most max.
bool parse_part(std::string_view s, std::uint32_t max, std::uint32_t& out) noexcept {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  std::uint64_t v = 0;
  for (const char c : s) {
    const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
    if (digit > 9) return false;
    v = v * 10 + digit;
    if (v > max) return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

// Year-month-day, each part by parse_part; the day is not checked against its month.
bool parse_date(std::string_view field, CalendarDate& date) noexcept {
  constexpr std::uint32_t kMax[3] = {std::numeric_limits<std::int32_t>::max(), 255, 255};
  const std::string_view s = text::trim(field);
  std::uint32_t parts[3];
  for (std::size_t k = 0, start = 0; k < 3; ++k) {
    std::size_t end = start;
    while (end < s.size() && s[end] != '-') ++end;
    if ((k < 2) == (end == s.size())) return false;  // exactly two hyphens
    if (!parse_part(std::string_view(s.data() + start, end - start), kMax[k], parts[k]))
      return false;
    start = end + 1;
  }
  if (parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31) return false;
  date = {static_cast<std::int32_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
          static_cast<std::uint8_t>(parts[2])};
  return true;
}

bool is_fill(std::string_view s) noexcept { return s == "9999.9" || s == "99999" || s == "999.9"; }

std::string_view field_at(std::span<const std::string_view> fields, std::size_t i) noexcept {
  return i < fields.size() ? fields[i] : std::string_view{};
}

// The number rule, into out; false when the value is absent. The hot loop uses this form:
// returning an optional<double> costs a store-forwarding stall per field.
bool read_number(std::string_view field, double& out) noexcept {
  // An untrimmed plain decimal needs no trimming. The fill texts are all worth 999.9 or
  // more, so the value spares most fields the text comparison.
  if (text::parse_plain_decimal(field, out)) return out < 999.9 || !is_fill(field);
  const std::string_view s = text::trim(field);
  if (s.empty() || is_fill(s)) return false;
  return text::parse_number(s, out);
}

bool read_array_8(std::span<const std::string_view> fields, const std::array<std::size_t, 8>& cols,
                  std::array<double, 8>& out) noexcept {
  for (std::size_t k = 0; k < 8; ++k)
    if (!read_number(field_at(fields, cols[k]), out[k])) return false;
  return true;
}

Result<std::size_t> find_column(const HeaderMap& header, std::string_view name,
                                std::string_view fallback = {}) {
  if (auto it = header.find(name); it != header.end()) return it->second;
  if (!fallback.empty())
    if (auto it = header.find(fallback); it != header.end()) return it->second;
  return HeliodexError::invalid_header();
}

struct Columns {
  std::size_t date, obs, adj, ap_daily;
  std::array<std::size_t, 8> ap, kp;
  std::size_t last() const noexcept {
    return std::max({date, obs, adj, ap_daily, *std::max_element(ap.begin(), ap.end()),
                     *std::max_element(kp.begin(), kp.end())});
  }
};

Result<Columns> resolve_columns(std::string_view header_line) {
  HeaderMap header;
  for (std::size_t pos = 0, start = 0;; ++pos) {
    const std::size_t comma = header_line.find(',', start);
    const std::string_view name = header_line.substr(start, comma - start);
    header.insert_or_assign(text::trim(name), pos);
    if (comma == header_line.npos) break;
    start = comma + 1;
  }
  auto date = find_column(header, "DATE");
  if (!date) return date.error();
  auto obs = find_column(header, "F10.7_OBS", "F10.7");
  if (!obs) return obs.error();
  auto adj = find_column(header, "F10.7_ADJ", "F10.7A");
  if (!adj) return adj.error();
  auto ap_daily = find_column(header, "AP_AVG", "AP");
  if (!ap_daily) return ap_daily.error();
  auto ap = detail::resolve_array_cols(header, "AP");
  if (!ap) return ap.error();
  auto kp = detail::resolve_array_cols(header, "KP");
  if (!kp) return kp.error();
  return Columns{*date, *obs, *adj, *ap_daily, *ap, *kp};
}

}  // namespace

namespace detail {

Result<std::array<std::size_t, 8>> resolve_array_cols(const HeaderMap& header,
                                                      std::string_view prefix) {
  std::array<std::size_t, 8> cols{};
  char name[3] = {prefix.size() > 0 ? prefix[0] : '\0', prefix.size() > 1 ? prefix[1] : '\0',
                  '0'};
  for (std::size_t k = 0; k < 8; ++k) {
    name[2] = static_cast<char>('1' + k);
    auto it = header.find(std::string_view(name, 3));
    if (it == header.end()) return HeliodexError::invalid_header();
    cols[k] = it->second;
  }
  return cols;
}

Index parse_f64_opt(std::string_view field) noexcept {
  if (double v; read_number(field, v)) return v;
  return std::nullopt;
}

Index8 parse_array_8(std::span<const std::string_view> fields,
                     const std::array<std::size_t, 8>& cols) noexcept {
  if (std::array<double, 8> v; read_array_8(fields, cols, v)) return v;
  return std::nullopt;
}

}  // namespace detail

Result<std::vector<DailyRecord>> parse(std::string_view bytes) {
  if (!text::is_utf8(bytes)) return HeliodexError::invalid_header();
  text::LineSplitter lines(bytes);
  std::string_view header_line;
  if (!lines.next(header_line)) return HeliodexError::invalid_header();
  const auto cols = resolve_columns(header_line);
  if (!cols) return cols.error();

  std::vector<DailyRecord> records;
  const std::size_t header_end = bytes.find('\n');
  if (header_end == bytes.npos) return records;
  const std::string_view data = bytes.substr(header_end + 1);
  records.reserve(text::count_line_feeds(data) + 1);

  // The current line's fields up to the last one read; later ones all land in the final,
  // spare slot, which saves a branch per field.
  std::vector<std::string_view> fields(cols->last() + 2);
  const std::size_t cap = fields.size() - 1;
  const char* const base = data.data();
  SeparatorScan scan(data);
  std::uint64_t row = 1;
  for (std::size_t begin = 0; begin < data.size();) {
    ++row;
    std::size_t count = 0, start = begin, at;
    while ((at = scan.next()) < data.size() && base[at] == ',') {
      fields[std::min(count++, cap)] = std::string_view(base + start, at - start);
      start = at + 1;
    }
    const bool single_field = count == 0;
    std::size_t end = at;
    if (end < data.size() && end > start && base[end - 1] == '\r') --end;  // CR before the LF
    fields[std::min(count++, cap)] = std::string_view(base + start, end - start);
    begin = at + 1;

    // A comma is no white space, so only a line without one can be blank.
    if (single_field && text::trim(fields[0]).empty()) continue;
    const std::span<const std::string_view> line(fields.data(), std::min(count, cap));
    CalendarDate date;
    if (!parse_date(field_at(line, cols->date), date))
      return HeliodexError::parse_row(row, HeliodexError::invalid_date().message());
    Index obs, adj, ap_daily;
    Index8 ap, kp;
    if (double v; read_number(field_at(line, cols->obs), v)) obs = v;
    if (double v; read_number(field_at(line, cols->adj), v)) adj = v;
    if (double v; read_number(field_at(line, cols->ap_daily), v)) ap_daily = v;
    if (!read_array_8(line, cols->ap, ap.emplace())) ap.reset();
    if (!read_array_8(line, cols->kp, kp.emplace())) kp.reset();
    // Each member is built once in place; emplace_back() or a copied record would first
    // zero or copy all of its 300 bytes.
    records.push_back(DailyRecord{date, obs, adj, Index{}, Index{}, ap_daily, ap, kp, {}, {}, {}, {}});
  }
  return records;
}

}  // namespace heliodex::celestrak
