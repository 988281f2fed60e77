#include "parsers/celestrak.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns of the undefined start value inside some of its own AVX-512 intrinsics.
#if defined(__clang__)
#include <immintrin.h>
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif
#define HELIODEX_WIDE_LINES 1
// The wide line reader: 64-byte vectors with byte permutes and compression.
#define HELIODEX_WIDE __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,avx512vbmi2,fma,popcnt")))
// The half-wide line reader: 32-byte vectors and in-lane byte shuffles.
#define HELIODEX_HALF_WIDE __attribute__((target("avx2,bmi,fma,popcnt")))
#endif

#include "memory.hpp"
#include "parsers/text.hpp"

namespace heliodex::celestrak {
namespace {

using detail::HeaderMap;

// Where a column's value goes: the three daily values, then AP1..AP8 and KP1..KP8.
constexpr std::uint8_t kObs = 0, kAdj = 1, kApDaily = 2, kAp = 3, kKp = 11, kValues = 19;

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
  if (s.size() == 10 && s[4] == '-' && s[7] == '-') {  // the usual YYYY-MM-DD, in one go
    unsigned d[10], bad = 0;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
      d[i] = static_cast<unsigned char>(s[i]) - unsigned{'0'};
      bad |= d[i] > 9;
    }
    const unsigned month = d[5] * 10 + d[6], day = d[8] * 10 + d[9];
    if (!bad) {
      if (month < 1 || month > 12 || day < 1 || day > 31) return false;
      date = {static_cast<std::int32_t>(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]),
              static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
      return true;
    }
  }
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

// The date YYYY-MM-DD of the ten bytes at p, whose buffer holds at least 16 bytes from p on;
// false when they are not of that form or month or day is out of range (the date rule then
// decides).
[[gnu::always_inline]] inline bool read_iso_date(const char* p, CalendarDate& date) noexcept {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));  // other bytes wrap past 9
  const auto digits = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d)));
  const auto dashes =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('-'))));
  if ((digits & 0x36F) != 0x36F || (dashes & 0x90) != 0x90) return false;
  // 32-bit lanes 10 d0 + d1, 10 d2 + d3, 10 d5, d6 from bytes 0 to 7; 10 d8 + d9 from 8 and 9.
  const __m128i zero = _mm_setzero_si128();
  alignas(16) std::int32_t a[4], b[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(a),
                  _mm_madd_epi16(_mm_unpacklo_epi8(d, zero), _mm_setr_epi16(10, 1, 10, 1, 0, 10, 1, 0)));
  _mm_store_si128(reinterpret_cast<__m128i*>(b),
                  _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), _mm_setr_epi16(10, 1, 0, 0, 0, 0, 0, 0)));
  const auto month = static_cast<unsigned>(a[2] + a[3]), day = static_cast<unsigned>(b[0]);
  if (month - 1 > 11 || day - 1 > 30) return false;
  date = {a[0] * 100 + a[1], static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  return true;
#else
  (void)p;
  (void)date;
  return false;
#endif
}

bool is_fill(std::string_view s) noexcept { return s == "9999.9" || s == "99999" || s == "999.9"; }

// The number rule, into out; false when the value is absent (out may be overwritten then).
// The hot loop uses this form: returning an optional<double> stalls on store forwarding.
bool read_number(std::string_view field, double& out) noexcept {
  // Most fields are plain decimals that need no trimming; the fill texts all read 999.9 or
  // more, so the value spares most fields the text comparison.
  if (text::parse_plain_decimal(field, out)) return out < 999.9 || !is_fill(field);
  const std::string_view s = text::trim(field);
  if (s.empty() || is_fill(s)) return false;
  return text::parse_number(s, out);
}

// Every line read in place ends in a LF at least kSlack bytes before the end of its buffer,
// so a 192-byte window from the line's start, or a word from inside it, stays in the buffer.
constexpr std::size_t kSlack = 200;
// and at least kFront bytes of its buffer stand before it: the header, or padding.
constexpr std::size_t kFront = 8;

Result<std::size_t> find_column(const HeaderMap& header, std::string_view name,
                                std::string_view fallback = {}) {
  if (auto it = header.find(name); it != header.end()) return it->second;
  if (!fallback.empty())
    if (auto it = header.find(fallback); it != header.end()) return it->second;
  return HeliodexError::invalid_header();
}

// The date column, and the column of each value slot.
struct Columns {
  std::size_t date;
  std::array<std::size_t, kValues> values;
};

// The columns of CelesTrak's own header (DATE,BSRN,ND,KP1..KP8,KP_SUM,AP1..AP8,AP_AVG,CP,C9,
// ISN,F10.7_OBS,F10.7_ADJ,...) by value slot.
constexpr Columns kCelestrakColumns{
    0, {24, 25, 20, 12, 13, 14, 15, 16, 17, 18, 19, 3, 4, 5, 6, 7, 8, 9, 10}};

Result<Columns> resolve_columns(std::string_view header_line) {
  HeaderMap header;
  for (std::size_t pos = 0, start = 0;; ++pos) {
    const std::size_t comma = header_line.find(',', start);
    header.insert_or_assign(text::trim(header_line.substr(start, comma - start)), pos);
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
  Columns cols{*date, {*obs, *adj, *ap_daily}};
  std::copy(ap->begin(), ap->end(), cols.values.begin() + kAp);
  std::copy(kp->begin(), kp->end(), cols.values.begin() + kKp);
  return cols;
}

// Cuts the line at p: bounds[i] becomes the offset of the comma that ends field i, for every
// comma up to max of them, and lf the offset of its LF; returns the count of commas stored.
// Lines of up to 127 bytes, the usual kind, are cut from bit masks of 128 bytes: no branch
// per byte or per field. Longer ones are walked.
std::size_t cut_line(const char* p, std::size_t max, std::size_t* bounds, std::size_t& lf) noexcept {
#if defined(__SSE2__)
  std::uint64_t comma_bits[2] = {0, 0}, lf_bits[2] = {0, 0};
  const __m128i comma = _mm_set1_epi8(','), line_feed = _mm_set1_epi8('\n');
  for (int i = 0; i < 8; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const auto bits = [](__m128i hit) {
      return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hit))};
    };
    comma_bits[i / 4] |= bits(_mm_cmpeq_epi8(v, comma)) << (16 * (i % 4));
    lf_bits[i / 4] |= bits(_mm_cmpeq_epi8(v, line_feed)) << (16 * (i % 4));
  }
  if (lf_bits[0] | lf_bits[1]) {
    const bool first = lf_bits[0] != 0;
    lf = first ? static_cast<std::size_t>(std::countr_zero(lf_bits[0]))
               : 64 + static_cast<std::size_t>(std::countr_zero(lf_bits[1]));
    const std::uint64_t before_lf = (std::uint64_t{1} << (lf % 64)) - 1;
    comma_bits[1] = first ? 0 : comma_bits[1] & before_lf;
    comma_bits[0] &= first ? before_lf : ~std::uint64_t{0};
    std::size_t count = 0;
    for (std::size_t half = 0; half < 2; ++half) {
      // Eight offsets per round; past the last bit the spare slot after them is rewritten.
      for (std::uint64_t bits = comma_bits[half]; bits && count < max;) {
        for (int k = 0; k < 8; ++k) {
          bounds[count] = 64 * half + static_cast<std::size_t>(std::countr_zero(bits));
          count += bits != 0;
          bits &= bits - 1;
        }
      }
    }
    return std::min(count, max);
  }
#endif
  std::size_t count = 0, i = 0;
  for (; p[i] != '\n'; ++i)
    if (p[i] == ',' && count < max) bounds[count++] = i;
  lf = i;
  return count;
}

// Checks and converts four words of four bytes together, each a field of one to four bytes
// with '0' bytes in front. Bit k of the result is set when word k was all digits.
unsigned convert4(const std::uint32_t words[4], double out[4]) noexcept {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));  // other bytes wrap past 9
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
  const __m128i word_ok = _mm_cmpeq_epi32(digit, _mm_set1_epi32(-1));
  // Byte pairs to d0 * 10 + d1, then pairs of those to p0 * 100 + p1.
  const __m128i pairs = _mm_add_epi16(
      _mm_mullo_epi16(_mm_and_si128(d, _mm_set1_epi16(0xFF)), _mm_set1_epi16(10)),
      _mm_srli_epi16(d, 8));
  const __m128i values = _mm_madd_epi16(pairs, _mm_set1_epi32(0x10064));  // 100 and 1
  _mm_storeu_pd(out, _mm_cvtepi32_pd(values));
  _mm_storeu_pd(out + 2, _mm_cvtepi32_pd(_mm_shuffle_epi32(values, 0xEE)));
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(word_ok)));
#else
  (void)words;
  (void)out;
  return 0;  // every field takes read_number
#endif
}

// The field of n bytes at p (1 to 4) as a word of its bytes with '0' bytes in front, for
// convert4 (so in x86 byte order).
std::uint32_t small_word(const char* p, std::size_t n) noexcept {
  static constexpr std::uint32_t kZeros[5] = {0, 0x303030, 0x3030, 0x30, 0};
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return (w << (8 * (4 - n))) | kZeros[n];
}

#if defined(HELIODEX_WIDE_LINES)
// The masked forms, with no lanes masked, stand for the plain ones, whose undefined start
// value GCC 12 warns of.
[[gnu::always_inline]] HELIODEX_WIDE inline __m512i permute(__m512i index, __m512i table) {
  return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, table);
}
[[gnu::always_inline]] HELIODEX_WIDE inline __m512d low_doubles(__m512i v) {
  return _mm512_maskz_cvtepi32_pd(0xFF, _mm512_castsi512_si256(v));
}
[[gnu::always_inline]] HELIODEX_WIDE inline __m512d high_doubles(__m512i v) {
  return _mm512_maskz_cvtepi32_pd(0xFF, _mm512_maskz_extracti64x4_epi64(0xFF, v, 1));
}
// For each byte value, the offsets of its set bits in ascending order, one per byte.
constexpr auto kBitOffsets = [] {
  std::array<std::uint64_t, 256> table{};
  for (unsigned v = 0; v < 256; ++v)
    for (unsigned bit = 0, n = 0; bit < 8; ++bit)
      if (v >> bit & 1) table[v] |= std::uint64_t{bit} << (8 * n++);
  return table;
}();

// Bit i set where byte i of bytes equals the byte of c.
[[gnu::always_inline]] HELIODEX_HALF_WIDE inline std::uint64_t byte_bits(__m256i bytes, __m256i c) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, c)))};
}

// The double nearest to r / 10 for each digit r (0 to 9) in r: r * 0.1 and its exact
// remainder. Added to a whole part w, it gives the double nearest to w + r / 10, as a division
// of the digits by ten would (for every w + r / 10 below 10^7), without the wait on the
// division. Both vector readers take the value of a field with a point this way.
[[gnu::always_inline]] __attribute__((target("avx,fma"))) inline __m256d tenths_of(__m256d r) {
  const __m256d tenth = _mm256_set1_pd(0.1), r_tenth = _mm256_mul_pd(r, tenth);
  return _mm256_fmadd_pd(_mm256_fnmadd_pd(r_tenth, _mm256_set1_pd(10.0), r), tenth, r_tenth);
}
#endif

// Reads the data lines of one buffer whose last line ends in a LF at least kSlack bytes
// before the buffer's end.
class LineReader {
 public:
  LineReader(const Columns& cols, std::vector<DailyRecord>& out, detail::Reader reader)
      : cols_(cols),
        wanted_(std::max(cols.date, *std::max_element(cols.values.begin(), cols.values.end())) + 1),
        bounds_(std::max<std::size_t>(wanted_, 128) + 16),
        out_(out) {
    bounds_[0] = ~std::size_t{0};  // one before field 0
    // The vector readers take lines whose wanted fields all end in a comma among the first 64
    // (wide) or 128 (half-wide), with no value in column 0 (which has no comma before it).
    const std::size_t first = *std::min_element(cols.values.begin(), cols.values.end());
    // A file the wide reader cannot take goes to the half-wide one where that can.
    using detail::Reader;
    if (first >= 1 && reader != Reader::portable) {
      if (reader == Reader::wide && wanted_ <= 64 && detail::can_run(Reader::wide))
        mode_ = Reader::wide;
      else if (wanted_ <= 128 && detail::can_run(Reader::half_wide))
        mode_ = Reader::half_wide;
    }
    known_order_ = cols.date == kCelestrakColumns.date && cols.values == kCelestrakColumns.values;
    for (std::size_t byte = 0; mode_ == Reader::wide && byte < 64; ++byte) {
      const auto small = static_cast<std::uint8_t>(cols.values[kAp + byte / 4]);
      const auto daily = static_cast<std::uint8_t>(cols.values[std::min<std::size_t>(byte / 8, 2)]);
      small_end_[byte] = small;
      small_start_[byte] = static_cast<std::uint8_t>(small - 1);
      daily_end_[byte] = daily;
      daily_start_[byte] = static_cast<std::uint8_t>(daily - 1);
    }
  }

  // Appends a record per non-blank line; row counts the lines. False at a bad date, with row
  // the number of its line.
  bool read(std::string_view text, std::uint64_t& row) {
#if defined(HELIODEX_WIDE_LINES)
    if (mode_ == detail::Reader::wide) {
      // The lines the wide reader leaves, one at a time.
      const char* const end = text.data() + text.size();
      for (const char* line = text.data(); (line = read_wide(line, end, row)) != end;)
        if (++row, !(line = read_line(line))) return false;
      return true;
    }
    if (mode_ == detail::Reader::half_wide)
      return known_order_ ? read_half_wide(text, row, KnownOrder{})
                          : read_half_wide(text, row, HeaderOrder{cols_});
#endif
    const char* const end = text.data() + text.size();
    for (const char* line = text.data(); line != end;)
      if (++row, !(line = read_line(line))) return false;
    return true;
  }

 private:
  // Reads the line at line; returns the byte after its LF, or null at a bad date.
  const char* read_line(const char* line) {
    std::size_t* const bounds = bounds_.data();  // field i spans bounds[i] + 1 to bounds[i + 1]
    std::size_t lf;
    const std::size_t count = cut_line(line, wanted_, bounds + 1, lf);
    const std::size_t line_end = lf > 0 && line[lf - 1] == '\r' ? lf - 1 : lf;
    // The last field ends the line; fields past it read as empty, from its end.
    for (std::size_t i = count + 1; i <= wanted_; ++i) bounds[i] = line_end;
    // A comma is no white space, so only a line without one can be blank.
    if (count > 0 || !text::trim(std::string_view(line, line_end)).empty())
      if (!read_fields(line)) return nullptr;
    return line + lf + 1;
  }

  std::string_view field(const char* line, std::size_t col) const noexcept {
    const std::size_t first = bounds_[col] + 1, last = bounds_[col + 1];
    return std::string_view(line + first, last > first ? last - first : 0);
  }

  // The slow form writes a date of its own: were date's address to reach it, date would
  // live in memory, written a member at a time and read back whole, which stalls.
  [[gnu::always_inline]] static bool read_date(std::string_view field, CalendarDate& date) noexcept {
    if (field.size() == 10 && read_iso_date(field.data(), date)) return true;
    CalendarDate slow;
    if (!parse_date(field, slow)) return false;
    date = slow;
    return true;
  }

  bool read_fields(const char* line) {
    CalendarDate date;
    if (!read_date(field(line, cols_.date), date)) return false;
    // Plain arrays: an array of string_view would be zeroed first, for every line.
    const char* data[kValues];
    std::size_t size[kValues];
    std::uint32_t words[kValues + 1];
    std::uint32_t small = 0;
#pragma GCC unroll 19  // the loop's own counting and branching cost as much as its body
    for (std::size_t k = 0; k < kValues; ++k) {
      const std::string_view f = field(line, cols_.values[k]);
      data[k] = f.data();
      size[k] = f.size();
      const bool is_small = f.size() - 1 < 4;
      words[k] = is_small ? small_word(f.data(), f.size()) : 0;
      small |= std::uint32_t{is_small} << k;
    }
    words[kValues] = 0;
    double v[kValues + 1];
    std::uint32_t present = 0;
    for (std::size_t k = 0; k < kValues; k += 4) present |= convert4(words + k, v + k) << k;
    present &= small;
    // The rest: points, signs, blanks, long fields; an empty field is absent.
    for (std::uint32_t rest = ~present & ((1u << kValues) - 1); rest; rest &= rest - 1) {
      const auto k = static_cast<std::size_t>(std::countr_zero(rest));
      if (read_number(std::string_view(data[k], size[k]), v[k])) present |= 1u << k;
    }
    append(date, v, present);
    return true;
  }

 public:
  // Whether the dates of the records appended so far strictly ascend.
  bool ascending() const noexcept { return ascending_; }

 private:
  // Appends the record of date with value slot k from v[k] where bit k of present is set.
  void append(CalendarDate date, const double* v, std::uint32_t present) { put(date, v, present); }

#if defined(HELIODEX_WIDE_LINES)
  // append, for the wide reader, into a list with room for the record: it then calls nothing
  // (so the reader's pointers and most of its vectors stay in registers through the call), and
  // its code is of the reader's kind (instructions of the older vector encoding in between
  // cost the reader about a sixth of its time on Zen 5).
  [[gnu::noinline]] HELIODEX_WIDE void append_in_room(CalendarDate date, const double* v,
                                                      std::uint32_t present) {
    if (out_.size() == out_.capacity()) __builtin_unreachable();
    put(date, v, present);
  }
#endif

  [[gnu::always_inline]] inline void put(CalendarDate date, const double* v,
                                         std::uint32_t present) {
    ascending_ &= last_ < date;
    prefetch_for_append(out_);
    last_ = date;
    // Each member is converted in place from one of these, so no part of the record is
    // built elsewhere and copied; and every member is given, so nothing is zeroed first
    // (value-initialising the 300-byte record would cost a quarter of the parse).
    struct Scalar {
      const double& v;
      bool on;
      operator Index() const noexcept { return on ? Index(v) : Index(); }
    };
    struct Group {  // all eight or nothing
      const double* v;
      bool on;
      operator Index8() const noexcept {
        if (!on) return std::nullopt;
        Index8 g(std::in_place);
        std::memcpy(g->data(), v, sizeof(*g));
        return g;
      }
    };
    const auto scalar = [&](std::size_t k) { return Scalar{v[k], (present >> k & 1) != 0}; };
    const auto group = [&](std::size_t first) {
      return Group{v + first, (present >> first & 0xFF) == 0xFF};
    };
#if defined(__cpp_aggregate_paren_init)
    out_.emplace_back(date, scalar(kObs), scalar(kAdj), Index{}, Index{}, scalar(kApDaily),
                      group(kAp), group(kKp), Index{}, Index{}, Index{}, Index{});
#else
    out_.push_back({date, scalar(kObs), scalar(kAdj), Index{}, Index{}, scalar(kApDaily),
                    group(kAp), group(kKp), Index{}, Index{}, Index{}, Index{}});
#endif
  }

  // The rest of a line that the half-wide reader cut, with pos[i] the offset of the comma that
  // ends field i: its date, the value slots its lanes left absent (bit k of present clear)
  // read by the portable rules, and its record; the date is in column date_col, which the
  // caller may know when compiled. False at a bad date.
  bool finish_line(const char* line, const std::uint8_t* pos, double* v, std::uint32_t present,
                   std::size_t date_col) {
    const auto field_at = [&](std::size_t col) {
      const std::size_t from_byte = col == 0 ? 0 : std::size_t{pos[col - 1]} + 1;
      return std::string_view(line + from_byte, pos[col] - from_byte);
    };
    CalendarDate date;
    if (!read_date(field_at(date_col), date)) return false;
    for (std::uint32_t rest = ~present & ((1u << kValues) - 1); rest; rest &= rest - 1) {
      const auto k = static_cast<std::size_t>(std::countr_zero(rest));
      if (read_number(field_at(cols_.values[k]), v[k])) present |= 1u << k;
    }
    append(date, v, present);
    return true;
  }

  // The length, with its LF, of a line that goes on past the half-wide reader's 128-byte
  // window (trailing columns, long values after the last wanted field).
  static std::size_t past_window(const char* line, const char* end) noexcept {
    const auto rest = static_cast<std::size_t>(end - line - 128);
    return static_cast<std::size_t>(
               static_cast<const char*>(std::memchr(line + 128, '\n', rest)) - line) + 1;
  }

#if defined(HELIODEX_WIDE_LINES)
  // Lines whose wanted fields all end in a comma within their first 128 bytes are cut in
  // vector registers. The offsets of their commas are packed into one register; from it
  // each field is gathered right-aligned into a lane with zeros in front: the sixteen
  // 3-hourly fields into four-byte lanes, the daily values into eight-byte lanes, where a
  // value with a point before its last digit becomes its whole part plus its tenths, to the
  // same double as the scalar reading's division by ten. Lanes then convert together. An
  // empty field is absent. A line with a lane that holds anything else (a blank, a sign,
  // another point, a fill value, too many digits), a date not in the form YYYY-MM-DD, no LF
  // among its first 192 bytes, or too few commas is left whole to the portable reading, so
  // both readings agree bit for bit: the reader returns at it, with rows the lines before
  // it, and also where the list has no room for another record. Its loop calls nothing but
  // append_in_room, so that nothing it holds in registers is saved and restored around calls.
  HELIODEX_WIDE const char* read_wide(const char* line, const char* const end,
                                      std::uint64_t& rows) {
    const __m512i iota = _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50,
                                         49, 48, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36,
                                         35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22,
                                         21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8,
                                         7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i comma = _mm512_set1_epi8(','), line_feed = _mm512_set1_epi8('\n');
    const __m512i small_end = _mm512_loadu_si512(small_end_);
    const __m512i small_start = _mm512_loadu_si512(small_start_);
    const __m512i daily_end = _mm512_loadu_si512(daily_end_);
    const __m512i daily_start = _mm512_loadu_si512(daily_start_);
    // Byte j of a lane of n bytes holds the field's byte n - j from its end.
    const __m512i small_back = _mm512_set1_epi32(0x01020304);
    const __m512i daily_back = _mm512_set1_epi64(0x0102030405060708);
    // Within a daily lane with a point in byte 6: the digits before it, bytes 0 to 5, move up
    // to end the lane.
    const __m512i drop_point = _mm512_add_epi8(_mm512_set1_epi64(0x0504030201000000),
                                               _mm512_and_si512(iota, _mm512_set1_epi8(0x38)));
    const __m512i zero = _mm512_setzero_si512(), digit0 = _mm512_set1_epi8('0');
    const __m512i nine = _mm512_set1_epi8(9), one = _mm512_set1_epi8(1);
    const __m512i tens = _mm512_set1_epi16(0x010A), hundreds = _mm512_set1_epi32(0x00010064);
    const __m256d fill = _mm256_set1_pd(999.9);
    constexpr __mmask64 kPointByte = 0x4040404040404040;  // byte 6 of each daily lane
    const auto need = static_cast<unsigned>(wanted_);
    alignas(64) std::uint8_t pos[64];
    // The values by slot, with the sixteen 3-hourly ones on two whole cache lines: their
    // 64-byte stores and the record's loads of them then split no line.
    alignas(64) double v_room[8 + 2 * 8];
    double* const v = v_room + 8 - kAp;
    // The line count stays in a register; rows is written when the reading stops.
    std::uint64_t row = rows;
    for (; line != end; ++row) {
      if (out_.size() == out_.capacity()) break;
      const __m512i lo = _mm512_loadu_si512(line), hi = _mm512_loadu_si512(line + 64);
      const std::uint64_t lf0 = _mm512_cmpeq_epi8_mask(lo, line_feed);
      const std::uint64_t lf1 = _mm512_cmpeq_epi8_mask(hi, line_feed);
      // The comma table below is built from every comma of the two windows, the next line's
      // too, so that it does not wait on where the LF lies: with at least `need` commas before
      // the LF, its first `need` entries are this line's all the same.
      const std::uint64_t c0 = _mm512_cmpeq_epi8_mask(lo, comma), c1 = _mm512_cmpeq_epi8_mask(hi, comma);
      std::size_t lf = 0;
      unsigned in_line = 0;  // commas before the LF
      if (lf0) {
        lf = static_cast<std::size_t>(std::countr_zero(lf0));
        in_line = static_cast<unsigned>(std::popcount(c0 & ((std::uint64_t{1} << lf) - 1)));
      } else if (lf1) {
        lf = 64 + static_cast<std::size_t>(std::countr_zero(lf1));
        in_line = static_cast<unsigned>(std::popcount(c0) +
                                        std::popcount(c1 & ((std::uint64_t{1} << (lf - 64)) - 1)));
      } else {
        const std::uint64_t lf2 = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(line + 128), line_feed);
        if (!lf2) break;
        lf = 128 + static_cast<std::size_t>(std::countr_zero(lf2));
        in_line = static_cast<unsigned>(std::popcount(c0) + std::popcount(c1));
      }
      if (in_line < need) break;
      const auto n0 = static_cast<unsigned>(std::popcount(c0));
      // commas byte i: the offset of the comma that ends field i.
      const __m512i first = _mm512_maskz_compress_epi8(c0, iota);
      const __m512i second =
          _mm512_maskz_compress_epi8(c1, _mm512_add_epi8(iota, _mm512_set1_epi8(64)));
      const __m512i from = _mm512_mask_add_epi8(
          iota, _mm512_cmpge_epu8_mask(iota, _mm512_set1_epi8(static_cast<char>(n0))), iota,
          _mm512_set1_epi8(static_cast<char>(64 - n0)));
      const __m512i commas = _mm512_permutex2var_epi8(first, from, second);
      _mm512_store_si512(pos, commas);

      // The 3-hourly fields: one to four digits each.
      std::uint32_t present;
      __m512d ap_lo, ap_hi;  // stored after the daily values, whose fourth lane they overwrite
      {
        const __m512i ends = permute(small_end, commas);
        const __m512i len = _mm512_sub_epi8(_mm512_sub_epi8(ends, permute(small_start, commas)), one);
        const __mmask64 in_field = _mm512_cmpge_epu8_mask(len, small_back);
        const __m512i bytes = _mm512_permutex2var_epi8(lo, _mm512_sub_epi8(ends, small_back), hi);
        const __m512i digits = _mm512_maskz_sub_epi8(in_field, bytes, digit0);
        const __mmask64 bad = _mm512_mask_cmpgt_epu8_mask(in_field, digits, nine) |
                              _mm512_cmpgt_epu8_mask(_mm512_sub_epi8(len, one), _mm512_set1_epi8(3));
        present = std::uint32_t{_mm512_cmpeq_epi32_mask(_mm512_movm_epi8(bad), zero)} << kAp;
        const __m512i values = _mm512_madd_epi16(_mm512_maddubs_epi16(digits, tens), hundreds);
        ap_lo = low_doubles(values);
        ap_hi = high_doubles(values);
      }
      // The daily values: up to eight digits, or seven with a point before the last.
      {
        const __m512i ends = permute(daily_end, commas);
        const __m512i len = _mm512_sub_epi8(_mm512_sub_epi8(ends, permute(daily_start, commas)), one);
        const __mmask64 in_field = _mm512_cmpge_epu8_mask(len, daily_back);
        const __m512i bytes = _mm512_permutex2var_epi8(lo, _mm512_sub_epi8(ends, daily_back), hi);
        const __mmask64 point_byte =
            _mm512_mask_cmpeq_epi8_mask(in_field & kPointByte, bytes, _mm512_set1_epi8('.'));
        const __mmask8 point = _mm512_test_epi64_mask(_mm512_movm_epi8(point_byte), _mm512_set1_epi8(-1));
        __m512i digits = _mm512_maskz_sub_epi8(in_field & ~point_byte, bytes, digit0);
        const __mmask64 bad = _mm512_mask_cmpgt_epu8_mask(in_field & ~point_byte, digits, nine) |
                              _mm512_cmpgt_epu8_mask(_mm512_sub_epi8(len, one), _mm512_set1_epi8(7));
        // A value with a point is its whole part plus its tenths digit over ten (tenths_of).
        // Only the first three lanes are wanted.
        const __m256i tenths = _mm256_maskz_srli_epi64(point, _mm512_castsi512_si256(digits), 56);
        digits = _mm512_mask_blend_epi64(
            point, digits, _mm512_maskz_permutexvar_epi8(~0x0303030303030303ULL, drop_point, digits));
        const __m512i quads = _mm512_madd_epi16(_mm512_maddubs_epi16(digits, tens), hundreds);
        const __m512i whole = _mm512_add_epi64(_mm512_mul_epu32(quads, _mm512_set1_epi64(10000)),
                                               _mm512_srli_epi64(quads, 32));
        // (+ 0 without a point)
        const __m256d values = _mm256_add_pd(_mm256_cvtepi64_pd(_mm512_castsi512_si256(whole)),
                                             tenths_of(_mm256_cvtepi64_pd(tenths)));
        const __mmask8 good = _mm512_cmpeq_epi64_mask(_mm512_movm_epi8(bad), zero) &
                              _mm256_cmp_pd_mask(values, fill, _CMP_LT_OQ);
        present |= good & 0x7u;
        _mm256_storeu_pd(v, values);
        _mm512_storeu_pd(v + kAp, ap_lo);
        _mm512_storeu_pd(v + kAp + 8, ap_hi);
      }

      // The date, and the slots the lanes left absent: an empty field is absent; any other
      // line takes the portable way.
      const std::size_t date_col = cols_.date;
      const std::size_t date_from = date_col == 0 ? 0 : std::size_t{pos[date_col - 1]} + 1;
      CalendarDate date;
      if (pos[date_col] - date_from != 10 || !read_iso_date(line + date_from, date)) break;
      std::uint32_t rest = ~present & ((1u << kValues) - 1);
      for (; rest; rest &= rest - 1) {
        const std::size_t col = cols_.values[static_cast<std::size_t>(std::countr_zero(rest))];
        if (pos[col] != pos[col - 1] + 1) break;
      }
      if (rest) break;
      append_in_room(date, v, present);
      line += lf + 1;
    }
    rows = row;
    return line;
  }

  // Where the half-wide reader finds its fields, by value slot: the columns of CelesTrak's own
  // header, known when compiled, so that every offset into the comma table is a constant and
  // each run of eight 3-hourly columns is read from it at once; or those the header gave.
  struct KnownOrder {
    static constexpr bool kRuns = true;  // AP1..AP8 and KP1..KP8 each in consecutive columns
    static constexpr std::size_t date() noexcept { return kCelestrakColumns.date; }
    static constexpr std::size_t value(std::size_t k) noexcept { return kCelestrakColumns.values[k]; }
  };
  struct HeaderOrder {
    static constexpr bool kRuns = false;
    const Columns& cols;
    std::size_t date() const noexcept { return cols.date; }
    std::size_t value(std::size_t k) const noexcept { return cols.values[k]; }
  };

  // Lines whose wanted fields all end in a comma within their first 128 bytes are cut from
  // bit masks of 32-byte vectors into a table of comma offsets. By it each field is loaded
  // right-aligned into a lane: the sixteen 3-hourly fields into four-byte lanes, the daily
  // values into eight-byte lanes, where a point before the last digit is dropped and the
  // value divided by ten, as the scalar reading does; bytes before a field's start count as
  // zeros. Lanes then convert together. A lane that holds anything else (a blank, a sign,
  // another point, a fill value, too many digits), and any other line, takes the portable
  // way, so both readings agree bit for bit. Bytes up to 8 before a line are read (and
  // ignored): every line has its header or kFront bytes of padding before it.
  template <class Order>
  HELIODEX_HALF_WIDE bool read_half_wide(std::string_view text, std::uint64_t& rows, Order order) {
    const char* const end = text.data() + text.size();
    const __m256i comma = _mm256_set1_epi8(','), line_feed = _mm256_set1_epi8('\n');
    // Byte j of a lane holds the field's byte 4 - j from its end when its length exceeds 3 - j.
    const __m256i back = _mm256_set1_epi32(0x00010203);
    const __m256i zero = _mm256_setzero_si256(), digit0 = _mm256_set1_epi8('0');
    const __m256i nine = _mm256_set1_epi8(9), three = _mm256_set1_epi8(3), one = _mm256_set1_epi8(1);
    const __m256i tens = _mm256_set1_epi16(0x010A), hundreds = _mm256_set1_epi32(0x00010064);
    const __m256i ones = _mm256_set1_epi8(-1), seven = _mm256_set1_epi8(7);
    const __m256i daily_back = _mm256_set1_epi64x(0x0001020304050607);
    const __m256i point_slot = _mm256_set1_epi64x(0x00FF000000000000);  // byte 6 of each lane
    // Within a daily lane with a point in byte 6: the digits before it, bytes 0 to 5, move up
    // to end the lane.
    const __m256i whole_part = _mm256_setr_epi8(-128, -128, 0, 1, 2, 3, 4, 5, -128, -128, 8, 9, 10,
                                                11, 12, 13, -128, -128, 0, 1, 2, 3, 4, 5, -128, -128,
                                                8, 9, 10, 11, 12, 13);
    // Byte k of eight spread over the four bytes of lane k.
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4,
                                            4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7);
    const std::size_t need = wanted_;
    // The line count stays in a register; rows is written when the reading stops.
    std::uint64_t row = rows;
    std::uint8_t pos[128 + 8] = {};
    double v[kValues];
    for (const char* line = text.data(); line != end;) {
      ++row;
      std::uint64_t c[2], lfs[2];
      for (int h = 0; h < 2; ++h) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + 64 * h));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + 64 * h + 32));
        c[h] = byte_bits(a, comma) | byte_bits(b, comma) << 32;
        lfs[h] = byte_bits(a, line_feed) | byte_bits(b, line_feed) << 32;
      }
      std::size_t lf = 0;
      if (lfs[0]) {
        lf = static_cast<std::size_t>(std::countr_zero(lfs[0]));
        c[0] &= (std::uint64_t{1} << lf) - 1;
        c[1] = 0;
      } else if (lfs[1]) {
        lf = 64 + static_cast<std::size_t>(std::countr_zero(lfs[1]));
        c[1] &= (std::uint64_t{1} << (lf - 64)) - 1;
      }
      const auto n0 = static_cast<std::size_t>(std::popcount(c[0]));
      if (n0 + static_cast<std::size_t>(std::popcount(c[1])) < need) {
        if (!(line = read_line(line))) return rows = row, false;
        continue;
      }
      // The comma offsets, eight bytes of the mask at a time: each byte's offsets come from
      // a table and are stored after those of the bytes before it, whose count each byte
      // takes from the mask on its own, so that no store waits on the one before.
#pragma GCC unroll 2
      for (std::size_t h = 0; h < 2; ++h)
#pragma GCC unroll 8
        for (std::size_t i = 0; i < 8; ++i) {
          const auto bits = static_cast<std::uint8_t>(c[h] >> (8 * i));
          const std::uint64_t at = kBitOffsets[bits] + 0x0808080808080808 * (8 * h + i);
          const std::uint64_t below = i == 0 ? 0 : c[h] & ((std::uint64_t{1} << (8 * i)) - 1);
          std::memcpy(pos + (h ? n0 : 0) + static_cast<std::size_t>(std::popcount(below)), &at, 8);
        }

      // The daily values: up to eight digits, or seven with a point before the last, in
      // eight-byte lanes; the fourth lane repeats the third.
      std::uint32_t present;
      {
        const std::size_t d0 = order.value(kObs), d1 = order.value(kAdj), d2 = order.value(kApDaily);
        const unsigned e0 = pos[d0], e1 = pos[d1], e2 = pos[d2];
        long long w[3];
        std::memcpy(&w[0], line + e0 - 8, 8);
        std::memcpy(&w[1], line + e1 - 8, 8);
        std::memcpy(&w[2], line + e2 - 8, 8);
        const __m256i word = _mm256_setr_epi64x(w[0], w[1], w[2], w[2]);
        constexpr std::uint64_t kEach = 0x0101010101010101;
        const auto length = [&](unsigned e, std::size_t col) {
          return static_cast<long long>((e - pos[col - 1] - 1) % 256 * kEach);
        };
        const long long n2 = length(e2, d2);
        const __m256i n = _mm256_setr_epi64x(length(e0, d0), length(e1, d1), n2, n2);
        const __m256i in_field = _mm256_cmpgt_epi8(n, daily_back);
        const __m256i point_byte = _mm256_and_si256(
            _mm256_and_si256(in_field, point_slot), _mm256_cmpeq_epi8(word, _mm256_set1_epi8('.')));
        const __m256i point = _mm256_andnot_si256(_mm256_cmpeq_epi64(point_byte, zero), ones);
        const __m256i region = _mm256_andnot_si256(point_byte, in_field);
        const __m256i d = _mm256_sub_epi8(word, digit0);
        const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(d, nine), d);
        const __m256i n1 = _mm256_sub_epi8(n, one);  // 1 to 8 bytes: n - 1 is 7 or less
        const __m256i length_ok = _mm256_cmpeq_epi8(_mm256_min_epu8(n1, seven), n1);
        const __m256i bad = _mm256_or_si256(_mm256_andnot_si256(digit, region),
                                            _mm256_andnot_si256(length_ok, ones));
        __m256i digits = _mm256_and_si256(d, region);
        // A value with a point is its whole part plus its tenths digit over ten (tenths_of).
        const __m256i tenths = _mm256_and_si256(_mm256_srli_epi64(digits, 56), point);
        digits = _mm256_blendv_epi8(digits, _mm256_shuffle_epi8(digits, whole_part), point);
        const __m256i quads = _mm256_madd_epi16(_mm256_maddubs_epi16(digits, tens), hundreds);
        const __m256i whole = _mm256_add_epi64(_mm256_mul_epu32(quads, _mm256_set1_epi64x(10000)),
                                               _mm256_srli_epi64(quads, 32));
        const __m256i low_words = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
        const __m256d r = _mm256_cvtepi32_pd(
            _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(tenths, low_words)));
        const __m256d values = _mm256_add_pd(
            _mm256_cvtepi32_pd(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(whole, low_words))),
            tenths_of(r));  // + 0 without a point
        // Below 999.9, whose texts may be fill values, as the scalar reading decides.
        const __m256i good = _mm256_andnot_si256(
            bad, _mm256_castpd_si256(_mm256_cmp_pd(values, _mm256_set1_pd(999.9), _CMP_LT_OQ)));
        present = static_cast<std::uint32_t>(_mm256_movemask_pd(_mm256_castsi256_pd(
                      _mm256_cmpeq_epi64(good, ones)))) & 0x7u;
        _mm256_storeu_pd(v, values);  // its fourth value goes where the 3-hourly ones follow
      }
      for (std::size_t h = 0; h < 2; ++h) {
        int w[8];
        __m256i n;  // lane k: the length of field k, in each of its bytes
        if constexpr (Order::kRuns) {
          // The ends of the eight fields and the ends of the fields before them, at once.
          const std::size_t first = order.value(kAp + 8 * h);
          const __m128i ends = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pos + first));
          const __m128i starts = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pos + first - 1));
          n = _mm256_shuffle_epi8(
              _mm256_broadcastq_epi64(_mm_sub_epi8(_mm_sub_epi8(ends, starts), _mm_set1_epi8(1))),
              spread);
          for (std::size_t k = 0; k < 8; ++k) std::memcpy(&w[k], line + pos[first + k] - 4, 4);
        } else {
          int len[8];
          for (std::size_t k = 0; k < 8; ++k) {
            const std::size_t col = order.value(kAp + 8 * h + k);
            const unsigned e = pos[col];
            std::memcpy(&w[k], line + e - 4, 4);
            len[k] = static_cast<int>((e - pos[col - 1] - 1) % 256 * 0x01010101u);
          }
          n = _mm256_setr_epi32(len[0], len[1], len[2], len[3], len[4], len[5], len[6], len[7]);
        }
        const __m256i word = _mm256_setr_epi32(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        const __m256i in_field = _mm256_cmpgt_epi8(n, back);
        const __m256i d = _mm256_sub_epi8(word, digit0);  // other bytes wrap past 9
        const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(d, nine), d);
        const __m256i n1 = _mm256_sub_epi8(n, one);  // 1 to 4 bytes: n - 1 is 3 or less
        const __m256i length_ok = _mm256_cmpeq_epi8(_mm256_min_epu8(n1, three), n1);
        const __m256i bad = _mm256_or_si256(_mm256_andnot_si256(digit, in_field),
                                            _mm256_andnot_si256(length_ok, ones));
        present |= static_cast<std::uint32_t>(_mm256_movemask_ps(
                       _mm256_castsi256_ps(_mm256_cmpeq_epi32(bad, zero))))
                   << (kAp + 8 * h);
        const __m256i values =
            _mm256_madd_epi16(_mm256_maddubs_epi16(_mm256_and_si256(d, in_field), tens), hundreds);
        _mm256_storeu_pd(v + kAp + 8 * h, _mm256_cvtepi32_pd(_mm256_castsi256_si128(values)));
        _mm256_storeu_pd(v + kAp + 8 * h + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(values, 1)));
      }

      if (!finish_line(line, pos, v, present, order.date())) return rows = row, false;
      line += lfs[0] | lfs[1] ? lf + 1 : past_window(line, end);
    }
    rows = row;
    return true;
  }
#endif

  const Columns& cols_;
  // Every date read is later than last_'s start value: its year is never negative.
  CalendarDate last_{std::numeric_limits<std::int32_t>::min(), 0, 0};
  bool ascending_ = true;
  std::size_t wanted_;  // fields cut from each line
  std::vector<std::size_t> bounds_;
  std::vector<DailyRecord>& out_;
  detail::Reader mode_ = detail::Reader::portable;
  bool known_order_ = false;  // the columns are those of CelesTrak's own header
  // Per byte of the wide reader's lanes, the field's column, which is also the index of the
  // comma that ends it, and the one before: sixteen lanes of four bytes for AP1..AP8 and
  // KP1..KP8, and eight of eight bytes for the daily values (the first three used).
  std::uint8_t small_end_[64] = {}, small_start_[64] = {};
  std::uint8_t daily_end_[64] = {}, daily_start_[64] = {};
};

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

bool can_run(Reader reader) noexcept {
#if defined(HELIODEX_WIDE_LINES)
  static const bool half_wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                __builtin_cpu_supports("fma") && __builtin_cpu_supports("popcnt");
  static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                           __builtin_cpu_supports("avx512vbmi") &&
                           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("fma") &&
                           __builtin_cpu_supports("popcnt");
  return reader == Reader::portable || (reader == Reader::half_wide && half_wide) ||
         (reader == Reader::wide && wide);
#else
  return reader == Reader::portable;
#endif
}

Reader fastest_reader() noexcept {
  return can_run(Reader::wide) ? Reader::wide
         : can_run(Reader::half_wide) ? Reader::half_wide
                                      : Reader::portable;
}

Index parse_f64_opt(std::string_view field) noexcept {
  if (double v; read_number(field, v)) return v;
  return std::nullopt;
}

Index8 parse_array_8(std::span<const std::string_view> fields,
                     const std::array<std::size_t, 8>& cols) noexcept {
  std::array<double, 8> values;
  for (std::size_t k = 0; k < 8; ++k) {
    const std::string_view field = cols[k] < fields.size() ? fields[cols[k]] : std::string_view{};
    if (!read_number(field, values[k])) return std::nullopt;
  }
  return values;
}

}  // namespace detail

struct Loader::State {
  State(std::uint64_t hint, detail::Reader r, std::size_t block)
      : size_hint(hint), reader(r), text(block, kFront, kSlack, hint) {}

  // Whether the lines are still to be read: the header is read and nothing is wrong yet.
  bool reading() const noexcept { return lines && !bad_text && bad_row == 0; }

  // The text check of the whole file, a run of whole lines at a time: a LF is never part of
  // a longer UTF-8 sequence, so the runs are valid exactly when the file is.
  void check(std::string_view run) noexcept {
    if (!text::is_ascii(run) && !text::is_utf8(run)) bad_text = true;
  }

  // The first line of run (whole lines, or the file's last line) is the header.
  void read_header(std::string_view run) {
    text::LineSplitter split(run);
    std::string_view line;
    split.next(line);
    header_read = true;
    auto found = resolve_columns(line);
    if (!found) return;  // lines stays empty: the header's error
    cols = *found;
    lines.emplace(*cols, records, reader);
    // The list of records is sized from the lines per byte of the rest of the first block.
    const std::string_view after = run.substr(std::min(line.size() + 1, run.size()));
    reserve_for_file(records, size_hint, after.size(), text::scan_text(after).line_feeds);
  }

  // Reads the whole lines of run, which has kFront bytes before it and kSlack after it.
  void read_lines(std::string_view run) {
    if (reading() && !lines->read(run, row)) bad_row = row;
  }

  std::uint64_t size_hint;
  detail::Reader reader;
  text::BlockBuffer text;
  bool any = false, header_read = false, bad_text = false, finished = false;
  std::uint64_t row = 1, bad_row = 0;  // the header is row 1
  std::optional<Columns> cols;
  std::vector<DailyRecord> records;
  std::optional<LineReader> lines;  // refers to cols and records
};

Loader::Loader(std::uint64_t size_hint, detail::Reader reader, std::size_t block)
    : state_(std::make_unique<State>(size_hint, reader, block)) {}

Loader::~Loader() = default;

std::span<char> Loader::space() { return state_->text.space(); }

void Loader::commit(std::size_t n) {
  State& s = *state_;
  s.any |= n > 0;
  const std::string_view run = s.text.commit(n);
  if (s.bad_text) {  // the file is refused already: nothing more to look at
    s.text.clear();
    return;
  }
  if (run.empty()) return;  // no line ends here yet
  s.check(run);
  std::size_t from = 0;
  if (!s.header_read) {
    s.read_header(run);
    from = run.find('\n') + 1;
  }
  s.read_lines(run.substr(from));
}

bool Loader::refused() const noexcept {
  const State& s = *state_;
  return s.bad_text || (s.header_read && !s.lines);
}

Result<std::vector<DailyRecord>> Loader::finish(bool* ascending) {
  State& s = *state_;
  if (ascending) *ascending = false;
  if (s.finished) return HeliodexError::invalid_header();
  s.finished = true;
  const std::string_view last = s.bad_text ? std::string_view() : s.text.rest();
  if (!last.empty()) {  // the last line, with no LF after it
    s.check(last);
    if (!s.header_read)
      s.read_header(last);
    else
      s.read_lines(std::string_view(last.data(), last.size() + 1));  // and the LF rest() added
  }
  if (!s.any || s.bad_text || !s.lines) return HeliodexError::invalid_header();
  if (s.bad_row != 0)
    return HeliodexError::parse_row(s.bad_row, HeliodexError::invalid_date().message());
  if (ascending) *ascending = s.lines->ascending();
  return std::move(s.records);
}

Result<std::vector<DailyRecord>> parse(std::string_view bytes, bool* ascending) {
  return detail::parse_lines(bytes, detail::fastest_reader(), ascending);
}

Result<std::vector<DailyRecord>> detail::parse_lines(std::string_view bytes, Reader reader,
                                                     bool* ascending, std::size_t block) {
  Loader loader(bytes.size(), reader, block);
  text::feed(loader, bytes, block);
  return loader.finish(ascending);
}

}  // namespace heliodex::celestrak
