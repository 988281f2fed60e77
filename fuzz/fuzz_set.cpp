#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "parsers/set.hpp"
#include "parsers/text.hpp"

#ifndef HELIODEX_SET_FORMAT
#error "define HELIODEX_SET_FORMAT to 0 (SOLFSMY) or 1 (DTCFILE)"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const bool dtc = HELIODEX_SET_FORMAT == 1;
  auto r = dtc ? heliodex::set::parse_dtcfile(input) : heliodex::set::parse_solfsmy(input);
  std::size_t data_lines = 0;
  if (r) {
    heliodex::text::LineSplitter lines(input);
    std::string_view line;
    while (lines.next(line)) {
      const auto t = heliodex::text::trim(line);
      data_lines += !t.empty() && t[0] != '#';
    }
    for (const auto& rec : *r) {
      const bool foreign = rec.f10_7_obs || rec.f10_7_adj || rec.ap_daily || rec.ap_3hr ||
                           rec.kp_3hr ||
                           (dtc ? (rec.f10_7_jb || rec.s10_7 || rec.m10_7 || rec.y10_7 ||
                                   rec.f10_7_jb_81c || !rec.dtc)
                                : (rec.dtc.has_value() || !rec.f10_7_jb || !rec.y10_7));
      if (foreign) heliodex::fuzz::fail("a SET record holds the wrong fields", input);
    }
  } else if (r.error().kind() != heliodex::HeliodexError::Kind::ParseRow) {
    heliodex::fuzz::fail("unexpected error kind", input);
  }
  heliodex::fuzz::check_result(r, input, data_lines);
  return 0;
}
