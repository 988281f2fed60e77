#include <cstddef>
#include <cstdint>
#include <bit>

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
  // A file that arrives in small blocks, cut anywhere, reads as one that arrives whole.
  const auto b = heliodex::set::detail::parse(
      dtc ? heliodex::set::Format::dtcfile : heliodex::set::Format::solfsmy, input, 1 + size % 61);
  if (bool(b) != bool(r) || (!b && b.error().message() != r.error().message()))
    heliodex::fuzz::fail("a file read in blocks has another outcome", input);
  const auto same = [](const heliodex::Index& x, const heliodex::Index& y) {
    return x.has_value() == y.has_value() &&
           (!x || std::bit_cast<std::uint64_t>(*x) == std::bit_cast<std::uint64_t>(*y));
  };
  if (b && b->size() != r->size())
    heliodex::fuzz::fail("a file read in blocks has another count", input);
  for (std::size_t i = 0; b && i < b->size(); ++i) {
    const heliodex::DailyRecord &x = (*b)[i], &y = (*r)[i];
    if (!(x.date == y.date) || !same(x.dtc, y.dtc) || !same(x.f10_7_jb, y.f10_7_jb) ||
        !same(x.f10_7_jb_81c, y.f10_7_jb_81c) || !same(x.s10_7, y.s10_7) ||
        !same(x.m10_7, y.m10_7) || !same(x.y10_7, y.y10_7))
      heliodex::fuzz::fail("a file read in blocks reads otherwise", input);
  }
  return 0;
}
