#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "fuzz_common.hpp"
#include "parsers/celestrak.hpp"
#include "parsers/text.hpp"

namespace {

// A record's date and index bits as text; an absent index reads "-".
std::string describe(const heliodex::DailyRecord& r) {
  std::string s = std::to_string(r.date.year) + '-' + std::to_string(r.date.month) + '-' +
                  std::to_string(r.date.day);
  const auto add = [&](double v) { s += ' ' + std::to_string(std::bit_cast<std::uint64_t>(v)); };
  heliodex::for_each_index(r, [&](const char*, const auto& field) {
    if (!field) s += " -";
    else if constexpr (std::is_same_v<std::decay_t<decltype(field)>, heliodex::Index>) add(*field);
    else for (const double v : *field) add(v);
  });
  return s;
}

bool same_records(const std::vector<heliodex::DailyRecord>& a,
                  const std::vector<heliodex::DailyRecord>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (describe(a[i]) != describe(b[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  using heliodex::celestrak::detail::Reader;
  bool ascending = false, portable_ascending = false;
  auto r = heliodex::celestrak::parse(input, &ascending);
  // Every line reader the CPU runs reads every file as the portable one does.
  const auto portable =
      heliodex::celestrak::detail::parse_lines(input, Reader::portable, &portable_ascending);
  for (const Reader reader : {Reader::wide, Reader::half_wide}) {
    if (!heliodex::celestrak::detail::can_run(reader)) continue;
    bool other_ascending = false;
    const auto other = heliodex::celestrak::detail::parse_lines(input, reader, &other_ascending);
    if (bool(other) != bool(portable) ||
        (!other && other.error().message() != portable.error().message()))
      heliodex::fuzz::fail("the line readers disagree on the outcome", input);
    if (other && !same_records(*other, *portable))
      heliodex::fuzz::fail("the line readers disagree on a record", input);
    if (other && other_ascending != portable_ascending)
      heliodex::fuzz::fail("the line readers disagree on the order", input);
  }
  if (bool(r) != bool(portable) || (r && !same_records(*r, *portable)))
    heliodex::fuzz::fail("parse and the portable reader disagree", input);
  // A file that arrives in small blocks, cut anywhere, reads as one that arrives whole.
  {
    // The same outcome, message, records and order as the whole file's.
    const auto reads_as_whole = [&](const auto& other, bool other_ascending) {
      return bool(other) == bool(r) && (other || other.error().message() == r.error().message()) &&
             (!other || (same_records(*other, *r) && other_ascending == ascending));
    };
    bool block_ascending = false;
    const std::size_t block = 1 + size % 61;
    const auto b = heliodex::celestrak::detail::parse_lines(
        input, heliodex::celestrak::detail::fastest_reader(), &block_ascending, block);
    if (!reads_as_whole(b, block_ascending))
      heliodex::fuzz::fail("a file read in blocks reads otherwise", input);
    // A file that turns out larger than its size said (it grew after it was measured).
    heliodex::celestrak::Loader grown(size / 3 + 1);
    heliodex::text::feed(grown, input, size / 2 + 1);
    bool grown_ascending = false;
    const auto g = grown.finish(&grown_ascending);
    if (!reads_as_whole(g, grown_ascending))
      heliodex::fuzz::fail("a file larger than its size hint reads otherwise", input);
  }
  std::size_t data_lines = 0;
  if (r) {
    // The store takes a list whose dates are said to ascend as it is, so that must be exact.
    bool strictly = true;
    for (std::size_t i = 1; i < r->size(); ++i) strictly &= (*r)[i - 1].date < (*r)[i].date;
    if (ascending != strictly || portable_ascending != strictly)
      heliodex::fuzz::fail("the parser misreports whether the dates ascend", input);
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
