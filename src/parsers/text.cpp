#include "parsers/text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace heliodex::text {
namespace {

using u8 = unsigned char;

bool is_cont(u8 c) noexcept { return (c & 0xC0) == 0x80; }

bool ascii_space(u8 c) noexcept { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Byte length of a White_Space character starting at s, or 0.
std::size_t space_at_front(std::string_view s) noexcept {
  if (s.empty()) return 0;
  const u8 c0 = static_cast<u8>(s[0]);
  if (ascii_space(c0)) return 1;
  if (c0 < 0xC2 || s.size() < 2) return 0;
  const u8 c1 = static_cast<u8>(s[1]);
  if (c0 == 0xC2) return (c1 == 0x85 || c1 == 0xA0) ? 2 : 0;
  if (s.size() < 3) return 0;
  const u8 c2 = static_cast<u8>(s[2]);
  if (c0 == 0xE1) return (c1 == 0x9A && c2 == 0x80) ? 3 : 0;
  if (c0 == 0xE2 && c1 == 0x80)
    return ((c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF) ? 3 : 0;
  if (c0 == 0xE2) return (c1 == 0x81 && c2 == 0x9F) ? 3 : 0;
  if (c0 == 0xE3) return (c1 == 0x80 && c2 == 0x80) ? 3 : 0;
  return 0;
}

// Byte length of a White_Space character ending at the end of s, or 0.
std::size_t space_at_back(std::string_view s) noexcept {
  if (s.empty()) return 0;
  const u8 last = static_cast<u8>(s.back());
  if (ascii_space(last)) return 1;
  if (!is_cont(last)) return 0;
  if (s.size() >= 2 && space_at_front(s.substr(s.size() - 2)) == 2) return 2;
  if (s.size() >= 3 && space_at_front(s.substr(s.size() - 3)) == 3) return 3;
  return 0;
}

bool equals_nocase(std::string_view s, std::string_view lower) noexcept {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

using detail::kPow10;

}  // namespace

bool is_utf8(std::string_view bytes) noexcept {
  const u8* p = reinterpret_cast<const u8*>(bytes.data());
  const u8* end = p + bytes.size();
  while (p < end) {
    // Skip ASCII 32 bytes at a time: most files are plain ASCII.
    while (end - p >= 32) {
      std::uint64_t w[4];
      std::memcpy(w, p, 32);
      if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) break;
      p += 32;
    }
    if (p >= end) break;
    const u8 c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t n;
    std::uint32_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < n) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (std::size_t i = 2; i < n; ++i)
      if (!is_cont(p[i])) return false;
    p += n;
  }
  return true;
}

bool LineSplitter::next(std::string_view& line) noexcept {
  if (done_) return false;
  if (rest_.empty()) {
    done_ = true;
    return false;
  }
  const void* lf = std::memchr(rest_.data(), '\n', rest_.size());
  if (!lf) {
    line = rest_;
    done_ = true;
    return true;
  }
  const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(lf) - rest_.data());
  line = rest_.substr(0, n);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  rest_.remove_prefix(n + 1);
  if (rest_.empty()) done_ = true;
  return true;
}

TextScan scan_text(std::string_view text) noexcept {
  // Whole blocks at a time with a count per byte lane; a memchr per line costs a call each.
  const char* p = text.data();
  std::size_t n = 0, i = 0;
  unsigned char high = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  __m128i bytes_or = _mm_setzero_si128();
  const auto add = [&](__m128i& lanes, std::size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, lf));
    bytes_or = _mm_or_si128(bytes_or, v);
  };
  while (text.size() - i >= 16) {
    __m128i lanes = _mm_setzero_si128();  // each lane counts at most 255
    int k = 0;
    for (; k + 4 <= 255 && text.size() - i >= 64; k += 4, i += 64) {
      add(lanes, i);
      add(lanes, i + 16);
      add(lanes, i + 32);
      add(lanes, i + 48);
    }
    for (; k < 255 && text.size() - i >= 16; ++k, i += 16) add(lanes, i);
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    n += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
         static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
  high = _mm_movemask_epi8(bytes_or) != 0 ? 0x80 : 0;
#endif
  for (; i < text.size(); ++i) {
    n += p[i] == '\n';
    high |= static_cast<unsigned char>(p[i]);
  }
  return {n, (high & 0x80) == 0};
}

BlockBuffer::BlockBuffer(std::size_t block, std::size_t front, std::size_t slack,
                         std::uint64_t expected)
    : block_(block > 0 ? block : 1),
      want_(expected > 0 && expected < block_ ? static_cast<std::size_t>(expected) : block_),
      front_(front),
      slack_(slack) {
  allocate(want_);
}

namespace {
constexpr std::size_t kLine = 64;  // a cache line
}  // namespace

// A zeroed buffer with room for bytes and more, the held bytes moved into it.
void BlockBuffer::allocate(std::size_t bytes) {
  std::vector<char> fresh(kLine + front_ + kLine + bytes + slack_);
  const auto at = reinterpret_cast<std::uintptr_t>(fresh.data());
  char* const fresh_base = fresh.data() + (kLine - at % kLine) % kLine;
  const auto fresh_size =
      static_cast<std::size_t>(fresh.data() + fresh.size() - slack_ - fresh_base);
  place(fresh_base, data(), held_);
  buffer_.swap(fresh);
  base_ = fresh_base;
  size_ = fresh_size;
}

// Puts the n bytes at from into the buffer at to_base so that they end on a cache line:
// there the next read() begins, and the kernel copies several times faster to a cache line
// than to an unaligned address on some CPUs (three times on AMD Zen 3).
void BlockBuffer::place(char* to_base, const char* from, std::size_t n) noexcept {
  const std::size_t end = (front_ + n + kLine - 1) / kLine * kLine;
  if (n > 0) std::memmove(to_base + end - n, from, n);
  begin_ = end - n;
}

void BlockBuffer::drop_given() noexcept {
  if (given_ == 0) return;
  held_ -= given_;
  place(base_, data() + given_, held_);
  given_ = 0;
  unsearched_ = held_;  // what follows the last LF has none
}

std::span<char> BlockBuffer::space() {
  drop_given();
  const std::size_t room = size_ - begin_ - held_;
  if (room == 0 || 2 * room < want_) allocate(std::max(2 * size_, held_ + want_));
  return {data() + held_, size_ - begin_ - held_};
}

std::string_view BlockBuffer::commit(std::size_t n) {
  drop_given();
  held_ += std::min(n, size_ - begin_ - held_);  // no more than space() took
  // The buffer always has room for more than the expected bytes: once full, the file is
  // larger than expected, and is read a block at a time from here on.
  if (held_ == size_ - begin_) want_ = block_;
  // Up to the last LF, usually a few bytes from the end; a long line is searched once.
  const char* const p = data();
  std::size_t whole = held_;
  while (whole > unsearched_ && p[whole - 1] != '\n') --whole;
  if (whole == unsearched_) {
    unsearched_ = held_;
    return {};
  }
  given_ = whole;
  return {p, whole};
}

std::string_view BlockBuffer::rest() {
  drop_given();
  data()[held_] = '\n';  // within the slack
  return {data(), held_};
}

void BlockBuffer::clear() noexcept {
  held_ = given_ = unsearched_ = 0;
  begin_ = (front_ + kLine - 1) / kLine * kLine;
}

bool is_ascii(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t i = 0;
  unsigned char high = 0;
#if defined(__SSE2__)
  __m128i bytes_or = _mm_setzero_si128();
  for (; text.size() - i >= 64; i += 64) {
    const auto at = [&](std::size_t k) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k));
    };
    bytes_or = _mm_or_si128(bytes_or, _mm_or_si128(_mm_or_si128(at(0), at(16)),
                                                   _mm_or_si128(at(32), at(48))));
  }
  high = _mm_movemask_epi8(bytes_or) != 0 ? 0x80 : 0;
#endif
  for (; i < text.size(); ++i) high |= static_cast<unsigned char>(p[i]);
  return (high & 0x80) == 0;
}

std::string_view detail::trim_edges(std::string_view s) noexcept {
  while (std::size_t n = space_at_front(s)) s.remove_prefix(n);
  while (std::size_t n = space_at_back(s)) s.remove_suffix(n);
  return s;
}

// The plain decimals were tried inline already; this is every other form.
bool detail::parse_number_general(std::string_view s, double& out) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::string_view body = s.substr(i);
  if (body.empty()) return false;

  if (!(body[0] >= '0' && body[0] <= '9') && body[0] != '.') {
    double v;
    if (equals_nocase(body, "inf") || equals_nocase(body, "infinity"))
      v = std::numeric_limits<double>::infinity();
    else if (equals_nocase(body, "nan"))
      v = std::numeric_limits<double>::quiet_NaN();
    else
      return false;
    out = negative ? -v : v;
    return true;
  }

  // Check the grammar and gather the decimal significand while we are at it. Counts are
  // 64-bit: a field may be longer than any int.
  std::uint64_t mantissa = 0;
  std::int64_t sig_digits = 0;       // digits from the first non-zero one on
  std::int64_t frac_digits = 0;      // digits after the point
  std::int64_t int_digits = 0;       // digits before the point, leading zeros excluded
  std::int64_t lead_frac_zeros = 0;  // zeros after the point before the first non-zero digit
  bool any_digit = false, point = false, seen_nonzero = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      any_digit = true;
      if (point) ++frac_digits;
      if (c != '0') seen_nonzero = true;
      if (seen_nonzero) {
        if (!point) ++int_digits;
        if (sig_digits < 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
        ++sig_digits;
      } else if (point) {
        ++lead_frac_zeros;
      }
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  bool has_exp = false;
  std::int64_t exp = 0;
  if (i < s.size()) {
    if (s[i] != 'e' && s[i] != 'E') return false;
    ++i;
    bool exp_neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exp_neg = s[i++] == '-';
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
      const char c = s[i];
      if (c < '0' || c > '9') return false;
      if (exp < 1'000'000'000) exp = exp * 10 + (c - '0');  // saturates far beyond any range
    }
    if (exp_neg) exp = -exp;
    has_exp = true;
  }

  // An integer significand below 2^53 over an exact power of ten rounds correctly in one
  // division (signed and zero-led texts that the plain path left).
  if (!has_exp && sig_digits <= 15 && frac_digits <= 22) {
    const double v = static_cast<double>(mantissa) / kPow10[frac_digits];
    out = negative ? -v : v;
    return true;
  }
  if (!seen_nonzero) {
    out = negative ? -0.0 : 0.0;
    return true;
  }

  double v = 0;
  const char* last = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(body.data(), last, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched out of range: an overflow gives a signed
    // infinity and an underflow a signed zero. The decimal magnitude tells which.
    const std::int64_t magnitude = int_digits > 0 ? exp + int_digits : exp - lead_frac_zeros;
    v = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || ptr != last) {
    return false;
  }
  out = negative ? -v : v;
  return true;
}

}  // namespace heliodex::text
