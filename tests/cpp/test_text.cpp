#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "parsers/text.hpp"

using heliodex::text::is_utf8;
using heliodex::text::LineSplitter;
using heliodex::text::parse_number;
using heliodex::text::trim;

namespace {

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

struct NumberCase {
  const char* text;
  bool matches;
  double value;
};

class NumberGrammar : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberGrammar, ReadsToTheNearestDoubleBitForBit) {
  const auto& c = GetParam();
  const auto v = parse_number(c.text);
  ASSERT_EQ(v.has_value(), c.matches) << c.text;
  if (!c.matches) return;
  if (std::isnan(c.value)) {
    EXPECT_TRUE(std::isnan(*v)) << c.text;
    EXPECT_EQ(std::signbit(*v), std::signbit(c.value)) << c.text;
  } else {
    EXPECT_EQ(bits(*v), bits(c.value)) << c.text;
  }
}

constexpr double kInf = INFINITY;
INSTANTIATE_TEST_SUITE_P(
    HardCases, NumberGrammar,
    ::testing::Values(
        NumberCase{"0.1", true, 0.1}, NumberCase{"2.2250738585072011e-308", true, 2.2250738585072011e-308},
        NumberCase{"9007199254740993", true, 9007199254740992.0},
        NumberCase{"9007199254740995", true, 9007199254740996.0},
        NumberCase{"1e400", true, kInf}, NumberCase{"-1e400", true, -kInf},
        NumberCase{"1e-400", true, 0.0}, NumberCase{"-1e-400", true, -0.0},
        NumberCase{"0.000001e-999999999999", true, 0.0}, NumberCase{"123e99999999999", true, kInf},
        NumberCase{"4.9e-324", true, 4.9e-324}, NumberCase{"1e-320", true, 1e-320},
        NumberCase{"269.3", true, 269.3}, NumberCase{"-0", true, -0.0},
        NumberCase{"+.5", true, 0.5}, NumberCase{"5.", true, 5.0}, NumberCase{"1E+2", true, 100.0},
        NumberCase{"0.30000000000000004441", true, 0.30000000000000004441},
        NumberCase{"inf", true, kInf}, NumberCase{"-Infinity", true, -kInf},
        NumberCase{"nAn", true, NAN}, NumberCase{"-nan", true, -NAN}, NumberCase{".", false, 0},
        NumberCase{"", false, 0}, NumberCase{"+", false, 0}, NumberCase{"1e", false, 0},
        NumberCase{"1e+", false, 0}, NumberCase{"0x10", false, 0}, NumberCase{"1_000", false, 0},
        NumberCase{"1,5", false, 0}, NumberCase{"1 2", false, 0}, NumberCase{" 1", false, 0},
        NumberCase{"1.2.3", false, 0}, NumberCase{"nan(1)", false, 0}, NumberCase{"infin", false, 0},
        NumberCase{"++1", false, 0}, NumberCase{"1e5x", false, 0}, NumberCase{"e5", false, 0}));

TEST(Trim, RemovesEveryUnicodeWhiteSpaceAndNothingElse) {
  const char* spaces[] = {"\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00A0", "\u1680",
                          "\u2000", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};
  for (const char* s : spaces) {
    const std::string text = std::string(s) + "x" + s;
    EXPECT_EQ(trim(text), "x") << text;
  }
  EXPECT_EQ(trim("\u200Bx\u200B"), "\u200Bx\u200B");  // zero-width space is no White_Space
  EXPECT_EQ(trim("\"x\""), "\"x\"");
  EXPECT_EQ(trim(" \xE2\x80"), "\xE2\x80");  // a cut character is kept, never overrun
  EXPECT_EQ(trim(" \t "), "");
}

std::vector<std::string> split(std::string_view text) {
  std::vector<std::string> out;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) out.emplace_back(line);
  return out;
}

TEST(LineSplitting, CutsAtLineFeedsAndDropsTheCarriageReturnBeforeThem) {
  using V = std::vector<std::string>;
  EXPECT_EQ(split(""), V{});
  EXPECT_EQ(split("\n"), V{""});
  EXPECT_EQ(split("a\nb"), (V{"a", "b"}));
  EXPECT_EQ(split("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(split("a\rb\r\r\n\n"), (V{"a\rb\r", ""}));
  EXPECT_EQ(split("\xEF\xBB\xBFx"), V{"\xEF\xBB\xBFx"});
}

TEST(Utf8, AcceptsWellFormedTextOnly) {
  EXPECT_TRUE(is_utf8("plain ascii, long enough for the word loop"));
  EXPECT_TRUE(is_utf8("\u00e9\u20ac\U0001F600"));
  for (const char* bad : {"\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82",
                          "abcdefgh\xFF", "\xF8\x88\x80\x80\x80"})
    EXPECT_FALSE(is_utf8(bad)) << bad;
}

}  // namespace
