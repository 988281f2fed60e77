#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "record.hpp"
#include "parsers/text.hpp"
#include "result.hpp"

namespace heliodex::set {

// Parses a whole SET DTCFILE into one record (the daily mean Dtc) per data line, in file order.
Result<std::vector<DailyRecord>> parse_dtcfile(std::string_view bytes);
// Parses a whole SET SOLFSMY file into one record per data line, in file order.
Result<std::vector<DailyRecord>> parse_solfsmy(std::string_view bytes);

enum class Format { solfsmy, dtcfile };

// parse_solfsmy or parse_dtcfile, for a file that arrives a block at a time: write bytes
// into space(), commit(n) the n written, and finish() at the end of the file for what the
// parse of the same bytes gives. It holds only the block and the line that runs on past it.
class Loader {
 public:
  static constexpr std::size_t kBlock = text::kBlock;
  // size_hint: the file's size where known, or 0; it sizes the list of records up front.
  explicit Loader(Format format, std::uint64_t size_hint = 0, std::size_t block = kBlock);
  ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  std::span<char> space();
  void commit(std::size_t n);
  // Whether finish() fails whatever bytes follow (the text is not UTF-8, whose error comes
  // before any line's): the rest of the file need not be read.
  bool refused() const noexcept;
  // The records, or the parse's error; once only. Where ascending is given, it is set to
  // whether every date is later than the one before.
  Result<std::vector<DailyRecord>> finish(bool* ascending = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

namespace detail {
// The parse of bytes given to a Loader in blocks of the given size.
Result<std::vector<DailyRecord>> parse(Format format, std::string_view bytes,
                                       std::size_t block = Loader::kBlock);
}  // namespace detail

// A trimmed signed 32-bit integer field, or ParseRow(row, name).
Result<std::int32_t> parse_int(std::string_view field, std::uint64_t row, const char* name);
// A trimmed unsigned 16-bit integer field (a day of the year), or ParseRow(row, "doy").
Result<std::uint16_t> parse_int(std::string_view field, std::uint64_t row);
// The date of day `doy` of `year` (proleptic Gregorian), or ParseRow(row, "invalid day-of-year").
Result<CalendarDate> doy_to_date(std::int32_t year, std::uint16_t doy, std::uint64_t row);

}  // namespace heliodex::set
