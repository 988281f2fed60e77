#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

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

// The block in which the loaders take a file: it fits the cache of one core, and the lines of
// one block are read in one go, while they are still there.
inline constexpr std::size_t kBlock = 120 << 10;

// A file that arrives a block at a time, held as whole lines. Bytes go into space(); commit
// gives the whole lines they complete, from the first byte held to the last LF, which stay
// in place until the next space() call; what follows them (a line that runs on) is kept.
// Every run of lines given has at least `front` bytes of the buffer before it and `slack`
// after its end, so readers may look that far past either end.
// A file expected to be smaller than a block (expected: its size, 0 when not known) starts
// in a buffer of its own size, which grows to a block once the file fills it. A whole block
// would cost a small file more than its reading: 120 KiB cleared, and the heap grown for it
// on every load and shrunk again after (a load of a 13 KB file took three times as long).
class BlockBuffer {
 public:
  BlockBuffer(std::size_t block, std::size_t front, std::size_t slack, std::uint64_t expected = 0);
  // Room for the next bytes: at least one byte, and usually about a block.
  std::span<char> space();
  // n bytes were written to the start of space(): the whole lines now held, or nothing.
  std::string_view commit(std::size_t n);
  // The bytes after the last LF (the file's last line, when it ends without one), with a LF
  // written after them.
  std::string_view rest();
  // Forgets every byte held.
  void clear() noexcept;

 private:
  void allocate(std::size_t bytes);
  void place(char* to_base, const char* from, std::size_t n) noexcept;
  void drop_given() noexcept;
  char* data() noexcept { return base_ + begin_; }

  std::size_t block_, want_;  // want_: the block, or less while the file may be smaller
  std::size_t front_, slack_;
  std::vector<char> buffer_;
  char* base_ = nullptr;  // on a cache line; size_ bytes, then slack_
  std::size_t size_ = 0, begin_ = 0, held_ = 0;
  std::size_t unsearched_ = 0;  // held bytes before this have no LF
  std::size_t given_ = 0;       // held bytes given by the last commit
};

// Hands bytes to loader (anything with space(), commit(n) and refused()) in pieces of at
// most block bytes, as a file read block by block arrives, until the loader refuses the
// file; returns how many bytes it took.
template <class Loader>
std::size_t feed(Loader& loader, std::string_view bytes, std::size_t block) {
  const std::size_t size = bytes.size();
  while (!bytes.empty() && !loader.refused()) {
    const std::span<char> room = loader.space();
    const std::size_t n = std::min({room.size(), bytes.size(), std::max<std::size_t>(block, 1)});
    std::copy_n(bytes.data(), n, room.data());
    loader.commit(n);
    bytes.remove_prefix(n);
  }
  return size - bytes.size();
}

// The line feeds of text, and whether every byte is ASCII: one pass for both, since the
// parsers want the count and nearly every file is plain ASCII (which is valid UTF-8).
struct TextScan {
  std::size_t line_feeds;
  bool ascii;
};
TextScan scan_text(std::string_view text) noexcept;
// Whether every byte is ASCII: scan_text without the count, at a few times its speed.
bool is_ascii(std::string_view text) noexcept;

namespace detail {
std::string_view trim_edges(std::string_view s) noexcept;
bool parse_number_general(std::string_view s, double& out) noexcept;
inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
}  // namespace detail

// Removes Unicode White_Space from both ends; bytes that are not valid UTF-8 stay.
inline std::string_view trim(std::string_view s) noexcept {
  // Most fields start and end with a printable ASCII byte: nothing to trim, and no call.
  const auto printable = [](char c) { return static_cast<unsigned char>(c - 0x21) < 0x5E; };
  if (!s.empty() && printable(s.front()) && printable(s.back())) return s;
  return detail::trim_edges(s);
}

// The bulk of every file, inline: one to fifteen digits with at most one point, no sign and
// no exponent. Reads it into out, or returns false and leaves out alone.
inline bool parse_plain_decimal(std::string_view s, double& out) noexcept {
  const std::size_t n = s.size();
  if (n == 0 || n > 16) return false;
  const auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; };
  unsigned long long m = 0;
  std::size_t i = 0;
  for (; i < n && digit(s[i]) < 10; ++i) m = m * 10 + digit(s[i]);
  std::size_t frac = 0, point = 0;
  if (i < n) {
    if (s[i] != '.') return false;
    point = 1;
    frac = n - i - 1;
    for (++i; i < n && digit(s[i]) < 10; ++i) m = m * 10 + digit(s[i]);
    if (i != n) return false;
  }
  const std::size_t digits = n - point;
  if (digits == 0 || digits > 15) return false;
  // Below 2^53 and over an exact power of ten, one division rounds correctly.
  out = frac == 0 ? static_cast<double>(m) : static_cast<double>(m) / detail::kPow10[frac];
  return true;
}

// Reads the whole text by the decimal number grammar (sign, digits with at most one point,
// exponent; or inf, infinity, nan in any case) into out. No trimming. Returns false and leaves
// out alone when the text does not match.
inline bool parse_number(std::string_view s, double& out) noexcept {
  return parse_plain_decimal(s, out) || detail::parse_number_general(s, out);
}

// The same reading as an optional: nothing when the text does not match.
inline std::optional<double> parse_number(std::string_view s) noexcept {
  if (double v; parse_number(s, v)) return v;
  return std::nullopt;
}

}  // namespace heliodex::text
