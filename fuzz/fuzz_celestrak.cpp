#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "parsers/celestrak.hpp"
#include "parsers/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto r = heliodex::celestrak::parse(input);
  std::size_t data_lines = 0;
  if (r) {
    heliodex::text::LineSplitter lines(input);
    std::string_view line;
    lines.next(line);  // the header
    while (lines.next(line)) data_lines += !heliodex::text::trim(line).empty();
    for (const auto& rec : *r)
      if (rec.f10_7_jb || rec.f10_7_jb_81c || rec.s10_7 || rec.m10_7 || rec.y10_7 || rec.dtc ||
          rec.date.month < 1 || rec.date.month > 12 || rec.date.day < 1 || rec.date.day > 31)
        heliodex::fuzz::fail("a CSV record holds a field the format lacks or a bad date", input);
  } else if (r.error().kind() != heliodex::HeliodexError::Kind::InvalidHeader &&
             r.error().kind() != heliodex::HeliodexError::Kind::ParseRow) {
    heliodex::fuzz::fail("unexpected error kind", input);
  }
  heliodex::fuzz::check_result(r, input, data_lines);
  return 0;
}
