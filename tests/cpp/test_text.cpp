#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "parsers/text.hpp"

namespace text = heliodex::text;

namespace {

constexpr std::uint64_t kNoMatch = 0x7FF0000000000001;  // signalling NaNs, which no parse gives
constexpr std::uint64_t kAnyNan = 0x7FF0000000000002;   // for any NaN, whatever its sign

struct NumberCase {
  const char* text;
  std::uint64_t bits;
  friend void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class NumberGrammar : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberGrammar, GivesTheNearestDoubleOrNothing) {
  const auto [input, bits] = GetParam();
  const auto v = text::parse_number(input);
  if (bits == kNoMatch) {
    EXPECT_FALSE(v);
    return;
  }
  ASSERT_TRUE(v);
  if (bits == kAnyNan) {
    EXPECT_TRUE(std::isnan(*v));
  } else {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*v), bits) << *v;
  }
}

INSTANTIATE_TEST_SUITE_P(
    HardCases, NumberGrammar,
    ::testing::Values(
        NumberCase{"0.1", 0x3FB999999999999A}, NumberCase{"269.3", 0x4070D4CCCCCCCCCD},
        NumberCase{"2.2250738585072011e-308", 0x000FFFFFFFFFFFFF},  // rounds to a subnormal
        NumberCase{"4.9e-324", 0x1}, NumberCase{"2.4703282292062328e-324", 0x1},
        NumberCase{"9007199254740993", 0x4340000000000000},  // a tie: to even, 2^53
        NumberCase{"9007199254740995", 0x4340000000000002},
        NumberCase{"0.30000000000000004441", 0x3FD3333333333334},
        NumberCase{"90.07199254740993", 0x4056849B86A12B9C},  // 16 digits: one rounding only
        NumberCase{"9.999999999999999", 0x4023FFFFFFFFFFFF},
        NumberCase{"1e400", 0x7FF0000000000000}, NumberCase{"-1e400", 0xFFF0000000000000},
        NumberCase{"1e-400", 0x0}, NumberCase{"-1e-400", 0x8000000000000000},
        NumberCase{"123e99999999999", 0x7FF0000000000000},
        NumberCase{"0.0001e-99999999999", 0x0}, NumberCase{"-0", 0x8000000000000000},
        NumberCase{"+.5", 0x3FE0000000000000}, NumberCase{"5.", 0x4014000000000000},
        NumberCase{"1E+2", 0x4059000000000000}, NumberCase{"00000000000000001.5", 0x3FF8000000000000},
        NumberCase{"inf", 0x7FF0000000000000}, NumberCase{"-Infinity", 0xFFF0000000000000},
        NumberCase{"nAn", kAnyNan}, NumberCase{"-nan", kAnyNan}, NumberCase{".", kNoMatch},
        NumberCase{"", kNoMatch}, NumberCase{"+", kNoMatch}, NumberCase{"1e", kNoMatch},
        NumberCase{"1e+", kNoMatch}, NumberCase{"e5", kNoMatch}, NumberCase{"0x10", kNoMatch},
        NumberCase{"1_000", kNoMatch}, NumberCase{"1,5", kNoMatch}, NumberCase{"1 2", kNoMatch},
        NumberCase{" 1", kNoMatch}, NumberCase{"1.2.3", kNoMatch}, NumberCase{"++1", kNoMatch},
        NumberCase{"nan(1)", kNoMatch}, NumberCase{"infin", kNoMatch}, NumberCase{"1e5x", kNoMatch},
        NumberCase{"12345678901234567x", kNoMatch}));

TEST(Trim, RemovesEveryUnicodeWhiteSpaceAndNothingElse) {
  for (const char* space : {"\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00A0", "\u1680",
                            "\u2000", "\u2005", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F",
                            "\u3000"}) {
    const std::string s = std::string(space) + space + "x y" + space;
    EXPECT_EQ(text::trim(s), "x y") << s;
  }
  for (const char* kept : {"\u200Bx\u200B", "\"x\"", "\u180Ex", "\u00A1x"})
    EXPECT_EQ(text::trim(kept), kept);
  EXPECT_EQ(text::trim(" \xE2\x80"), "\xE2\x80");  // a cut character is kept, never overrun
  EXPECT_EQ(text::trim("\xA0 x"), "\xA0 x");         // a stray continuation byte too
  EXPECT_EQ(text::trim(" \t\u3000"), "");
}

std::vector<std::string> split(std::string_view s) {
  std::vector<std::string> out;
  text::LineSplitter lines(s);
  for (std::string_view line; lines.next(line);) out.emplace_back(line);
  return out;
}

TEST(LineSplitting, CutsAtLineFeedsAndDropsOnlyTheCarriageReturnBeforeOne) {
  using V = std::vector<std::string>;
  EXPECT_EQ(split(""), V{});
  EXPECT_EQ(split("\n"), V{""});
  EXPECT_EQ(split("a\nb"), (V{"a", "b"}));
  EXPECT_EQ(split("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(split("a\rb\r\r\n\n"), (V{"a\rb\r", ""}));
  EXPECT_EQ(split("a\r"), V{"a\r"});
  EXPECT_EQ(split("\xEF\xBB\xBFx"), V{"\xEF\xBB\xBFx"});
}

TEST(LineSplitting, ScanCountsLineFeedsAndSeesAnyHighByteAcrossEveryBlockBoundary) {
  std::string s;
  std::size_t want = 0;
  for (std::size_t i = 0; i < 20000; ++i) {
    const bool lf = (i * 7919) % 13 < 2 || (i > 9000 && i < 13000);  // sparse, then dense
    s += lf ? '\n' : static_cast<char>('a' + i % 26);
    want += lf;
    if (i % 997 == 0) {
      const text::TextScan scan = text::scan_text(s);
      ASSERT_EQ(scan.line_feeds, want) << i;
      ASSERT_TRUE(scan.ascii && text::is_ascii(s)) << i;
      for (std::size_t at : {std::size_t{0}, s.size() / 2, s.size() - 1}) {
        std::string high = s;
        high[at] = '\x80';
        ASSERT_FALSE(text::scan_text(high).ascii) << i << ' ' << at;
        ASSERT_FALSE(text::is_ascii(high)) << i << ' ' << at;
      }
    }
  }
  EXPECT_EQ(text::scan_text(s).line_feeds, want);
  EXPECT_EQ(text::scan_text("").line_feeds, 0u);
}

TEST(Utf8, AcceptsWellFormedTextOnly) {
  EXPECT_TRUE(text::is_utf8(""));
  EXPECT_TRUE(text::is_utf8("\u00e9\u20ac\U0001F600\U0010FFFF\uFFFF"));
  const std::string ascii(40, 'a');
  for (const char* bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80",
                          "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82",
                          "\xE2\x82(", "\xFF"}) {
    EXPECT_FALSE(text::is_utf8(bad)) << bad;
    for (std::size_t at : {0u, 7u, 31u, 32u, 39u})  // inside and after the ASCII fast path
      EXPECT_FALSE(text::is_utf8(ascii.substr(0, at) + bad + ascii)) << at;
  }
}

}  // namespace

namespace {
// Writes text into the buffer's space and commits it, in one go.
std::string_view feed(text::BlockBuffer& b, std::string_view bytes) {
  const std::span<char> room = b.space();
  EXPECT_GE(room.size(), bytes.size());
  std::copy(bytes.begin(), bytes.end(), room.begin());
  return b.commit(bytes.size());
}
}  // namespace

TEST(BlockBuffer, GivesWholeLinesKeepsTheRestAndReadsToACacheLine) {
  text::BlockBuffer b(16, 8, 4);
  EXPECT_EQ(feed(b, "abc"), "");  // no line ends yet
  EXPECT_EQ(feed(b, "\nde"), "abc\n");
  // The next read goes to a cache line, the carried bytes just before it.
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.space().data()) % 64, 0u);
  const std::string long_line(100, 'x');  // longer than a block: the buffer grows
  EXPECT_EQ(feed(b, "f\ngh"), "def\n");
  for (char c : long_line) EXPECT_EQ(feed(b, std::string(1, c)), "");
  EXPECT_EQ(feed(b, "\n\n"), "gh" + long_line + "\n\n");
  EXPECT_EQ(feed(b, "tail"), "");
  const std::string_view rest = b.rest();
  EXPECT_EQ(rest, "tail");
  EXPECT_EQ(rest.data()[rest.size()], '\n');  // written after the rest, for line readers
  b.clear();
  EXPECT_EQ(b.rest(), "");
}

// A file expected to be smaller than a block starts in a buffer of about its own size, with
// room to find its end in the same read; one that turns out larger (it grew after it was
// measured) is read a block at a time from where it filled the buffer.
TEST(BlockBuffer, StartsAtTheExpectedSizeAndGrowsToABlockOnceFull) {
  text::BlockBuffer exact(4096, 8, 4, 100);
  const std::size_t room = exact.space().size();
  EXPECT_GT(room, 100u);
  EXPECT_LT(room, 4096u / 2);
  EXPECT_EQ(feed(exact, std::string(99, 'x') + "\n").size(), 100u);
  EXPECT_EQ(exact.space().size(), room);  // nothing more was needed

  text::BlockBuffer grown(4096, 8, 4, 100);
  const std::string full(grown.space().size(), '\n');
  EXPECT_EQ(feed(grown, full), full);
  EXPECT_GE(grown.space().size(), 4096u);
}
