#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.hpp"
#include "parsers/text.hpp"

namespace {

// An independent reading of the grammar: sign, then inf/infinity/nan, or digits with at most
// one point and at least one digit, then an optional exponent.
bool in_grammar(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::string word;
  for (std::size_t j = i; j < s.size(); ++j) word += static_cast<char>(std::tolower(static_cast<unsigned char>(s[j])));
  if (word == "inf" || word == "infinity" || word == "nan") return true;
  std::size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) return 0;
  const auto v = heliodex::text::parse_number(text);
  if (v.has_value() != in_grammar(text)) heliodex::fuzz::fail("grammar disagreement", text);
  if (!v) return 0;
  std::setlocale(LC_NUMERIC, "C");
  char* end = nullptr;
  const double want = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) heliodex::fuzz::fail("strtod stopped early", text);
  if (std::isnan(want) ? !std::isnan(*v) : std::memcmp(&want, &*v, sizeof want) != 0)
    heliodex::fuzz::fail("value differs from strtod", text);
  return 0;
}
