#include "parsers/celestrak.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "parsers/text.hpp"

namespace heliodex::celestrak {
namespace {

// Columns read from each line: date, obs, adj, daily Ap, AP1..AP8, KP1..KP8.
constexpr std::size_t kDate = 0, kObs = 1, kAdj = 2, kApDaily = 3, kAp = 4, kKp = 12;
constexpr std::size_t kColumns = 20;

// The fields of one line at the wanted positions; fields past the line's end are empty.
class FieldPicker {
 public:
  explicit FieldPicker(const std::array<std::size_t, kColumns>& cols) {
    // Visit the wanted positions in ascending order so one scan of the line serves all.
    for (std::size_t i = 0; i < kColumns; ++i) order_[i] = i;
    std::sort(order_.begin(), order_.end(),
              [&](std::size_t a, std::size_t b) { return cols[a] < cols[b]; });
    for (std::size_t i = 0; i < kColumns; ++i) pos_[i] = cols[order_[i]];
  }

  void pick(std::string_view line, std::array<std::string_view, kColumns>& out) const noexcept {
    // Fields are short: a plain byte scan beats a library call per field.
    const char* p = line.data();
    const char* end = p + line.size();
    std::size_t field = 0, k = 0;
    while (k < kColumns) {
      const char* q = p;
      while (q != end && *q != ',') ++q;
      while (k < kColumns && pos_[k] == field) out[order_[k++]] = std::string_view(p, q - p);
      if (q == end) break;
      p = q + 1;
      ++field;
    }
    for (; k < kColumns; ++k) out[order_[k]] = {};
  }

 private:
  std::array<std::size_t, kColumns> order_{};
  std::array<std::size_t, kColumns> pos_{};
};

// One date part: at most one leading '+', then one or more ASCII digits.
template <class T>
bool parse_part(std::string_view s, T max, T& out) noexcept {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > static_cast<std::uint64_t>(max)) return false;
  }
  out = static_cast<T>(v);
  return true;
}

Result<CalendarDate> parse_date(std::string_view field) {
  const std::string_view s = text::trim(field);
  std::string_view parts[3];
  std::size_t n = 0, start = 0;
  for (;;) {
    const std::size_t dash = s.find('-', start);
    if (n == 3) return HeliodexError::invalid_date();
    parts[n++] = s.substr(start, dash == std::string_view::npos ? s.npos : dash - start);
    if (dash == std::string_view::npos) break;
    start = dash + 1;
  }
  std::int32_t year = 0;
  std::uint8_t month = 0, day = 0;
  if (n != 3 || !parse_part<std::int32_t>(parts[0], std::numeric_limits<std::int32_t>::max(), year) ||
      !parse_part<std::uint8_t>(parts[1], 255, month) ||
      !parse_part<std::uint8_t>(parts[2], 255, day) || month < 1 || month > 12 || day < 1 ||
      day > 31)
    return HeliodexError::invalid_date();
  return CalendarDate{year, month, day};
}

Index8 parse_array_8(const std::array<std::string_view, kColumns>& fields,
                     std::size_t first) noexcept {
  std::array<double, 8> values{};
  for (std::size_t k = 0; k < 8; ++k) {
    const Index v = parse_f64_opt(fields[first + k]);
    if (!v) return std::nullopt;
    values[k] = *v;
  }
  return values;
}

Result<std::size_t> find(const HeaderMap& header, std::string_view name,
                         std::string_view fallback = {}) {
  if (auto it = header.find(name); it != header.end()) return it->second;
  if (!fallback.empty())
    if (auto it = header.find(fallback); it != header.end()) return it->second;
  return HeliodexError::invalid_header();
}

}  // namespace

Index parse_f64_opt(std::string_view field) noexcept {
  const std::string_view s = text::trim(field);
  if (s.empty() || s == "9999.9" || s == "99999" || s == "999.9") return std::nullopt;
  return text::parse_number(s);
}

Result<std::array<std::size_t, 8>> resolve_array_cols(const HeaderMap& header,
                                                      std::string_view prefix) {
  std::array<std::size_t, 8> cols{};
  char name[3] = {prefix.size() > 0 ? prefix[0] : '\0', prefix.size() > 1 ? prefix[1] : '\0',
                  '0'};
  for (std::size_t k = 0; k < 8; ++k) {
    name[2] = static_cast<char>('1' + k);
    auto it = header.find(std::string_view(name, 3));
    if (it == header.end()) return HeliodexError::invalid_header();
    cols[k] = it->second;
  }
  return cols;
}

Result<std::vector<DailyRecord>> parse(std::string_view bytes) {
  if (bytes.empty() || !text::is_utf8(bytes)) return HeliodexError::invalid_header();
  text::LineSplitter lines(bytes);
  std::string_view line;
  if (!lines.next(line)) return HeliodexError::invalid_header();

  HeaderMap header;
  for (std::size_t pos = 0, start = 0;; ++pos) {
    const std::size_t comma = line.find(',', start);
    header[text::trim(line.substr(start, comma == line.npos ? line.npos : comma - start))] = pos;
    if (comma == line.npos) break;
    start = comma + 1;
  }

  std::array<std::size_t, kColumns> cols{};
  {
    auto date = find(header, "DATE");
    if (!date) return date.error();
    auto obs = find(header, "F10.7_OBS", "F10.7");
    if (!obs) return obs.error();
    auto adj = find(header, "F10.7_ADJ", "F10.7A");
    if (!adj) return adj.error();
    auto ap_daily = find(header, "AP_AVG", "AP");
    if (!ap_daily) return ap_daily.error();
    auto ap = resolve_array_cols(header, "AP");
    if (!ap) return ap.error();
    auto kp = resolve_array_cols(header, "KP");
    if (!kp) return kp.error();
    cols[kDate] = *date;
    cols[kObs] = *obs;
    cols[kAdj] = *adj;
    cols[kApDaily] = *ap_daily;
    std::copy(ap->begin(), ap->end(), cols.begin() + kAp);
    std::copy(kp->begin(), kp->end(), cols.begin() + kKp);
  }
  const FieldPicker picker(cols);

  std::vector<DailyRecord> records;
  records.reserve(text::count_line_feeds(bytes) + 1);
  std::array<std::string_view, kColumns> fields;
  for (std::uint64_t row = 2; lines.next(line); ++row) {
    const std::string_view trimmed = text::trim(line);
    if (trimmed.empty()) continue;
    picker.pick(trimmed, fields);
    auto date = parse_date(fields[kDate]);
    if (!date) return HeliodexError::parse_row(row, date.error().message());
    DailyRecord& r = records.emplace_back();
    r.date = *date;
    r.f10_7_obs = parse_f64_opt(fields[kObs]);
    r.f10_7_adj = parse_f64_opt(fields[kAdj]);
    r.ap_daily = parse_f64_opt(fields[kApDaily]);
    r.ap_3hr = parse_array_8(fields, kAp);
    r.kp_3hr = parse_array_8(fields, kKp);
  }
  return records;
}

}  // namespace heliodex::celestrak
