#pragma once
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "record.hpp"
#include "result.hpp"
#include "store/heliodex_store.hpp"

namespace heliodex::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view input) {
  std::fprintf(stderr, "property violated: %s\ninput (%zu bytes): ", what, input.size());
  std::fwrite(input.data(), 1, input.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

inline std::size_t line_count(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) n += c == '\n';
  return n + (s.empty() || s.back() == '\n' ? 0 : 1);
}

// One bit per index field that holds a value.
inline unsigned present_mask(const DailyRecord& r) {
  unsigned mask = 0, bit = 1;
  for_each_index(r, [&](const char*, const auto& field) {
    if (field) mask |= bit;
    bit <<= 1;
  });
  return mask;
}

// Properties every parser result must hold: on error a row within the file; on success a
// store of strictly ascending dates that keeps every present value of its day.
inline void check_result(const Result<std::vector<DailyRecord>>& r, std::string_view input,
                         std::size_t expected_records) {
  if (!r) {
    if (r.error().kind() == HeliodexError::Kind::ParseRow && r.error().row() > line_count(input))
      fail("error row beyond the last line", input);
    return;
  }
  if (r->size() != expected_records) fail("not one record per data line", input);
  auto store = HeliodexStore::make(*r);
  const auto recs = store.records();
  for (std::size_t i = 1; i < recs.size(); ++i)
    if (!(recs[i - 1].date < recs[i].date)) fail("store dates not strictly ascending", input);
  for (const DailyRecord& in : *r) {
    const DailyRecord* out = store.get(in.date);
    if (!out) fail("a parsed day is missing from the store", input);
    const bool lost = (present_mask(in) & ~present_mask(*out)) != 0;
    if (lost) fail("the store lost a present value", input);
  }
}

}  // namespace heliodex::fuzz
