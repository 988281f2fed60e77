#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "record.hpp"
#include "parsers/text.hpp"
#include "result.hpp"

namespace heliodex::celestrak {

namespace detail {
// The line readers: the portable one, and two that cut lines in vector registers of 32
// (half_wide) or 64 bytes (wide) where the CPU has the instructions they need. Every reader
// reads every line alike; a vector reader passes the lines it cannot take to the portable one.
enum class Reader { portable, half_wide, wide };
bool can_run(Reader reader) noexcept;
// The fastest reader this CPU runs; parse and Loader use it.
Reader fastest_reader() noexcept;
}  // namespace detail

// Parses a whole CelesTrak CSV file into one record per non-blank data line, in file order.
// Where ascending is given, it is set to whether the records' dates strictly ascend, which
// spares the store a second look at every record (see HeliodexStore::make_ascending).
Result<std::vector<DailyRecord>> parse(std::string_view bytes, bool* ascending = nullptr);

// parse, for a file that arrives a block at a time: write bytes into space(), commit(n) the
// n written, and finish() at the end of the file for what parse gives for the same bytes.
// It holds only the block and the line that runs on past it, so a file's bytes are never
// all in memory, and each block is read while it is still in the CPU's cache.
class Loader {
 public:
  static constexpr std::size_t kBlock = text::kBlock;
  // size_hint: the file's size where known, or 0; it sizes the list of records up front.
  explicit Loader(std::uint64_t size_hint = 0, detail::Reader reader = detail::fastest_reader(),
                  std::size_t block = kBlock);
  ~Loader();
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // Room for the next bytes: at least one byte, and usually about a block.
  std::span<char> space();
  // n bytes were written to the start of space(): the lines they complete are read.
  void commit(std::size_t n);
  // Whether finish() fails whatever bytes follow (the text is not UTF-8, or the header is
  // bad): the rest of the file need not be read.
  bool refused() const noexcept;
  // The records, or the error parse gives; once only.
  Result<std::vector<DailyRecord>> finish(bool* ascending = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The steps of parse, exposed for tests.
namespace detail {

// parse, with the given reader where the CPU runs it and the file's columns suit it; else
// with the half-wide reader (for wide) where that can, or the portable one. The bytes go
// to a Loader in blocks of the given size.
Result<std::vector<DailyRecord>> parse_lines(std::string_view bytes, Reader reader,
                                             bool* ascending = nullptr,
                                             std::size_t block = Loader::kBlock);

// Trimmed header name to its position in the header line; a repeated name keeps its last one.
using HeaderMap = std::unordered_map<std::string_view, std::size_t>;

// The positions of prefix1..prefix8 (prefix "AP" or "KP") in that order, or InvalidHeader.
Result<std::array<std::size_t, 8>> resolve_array_cols(const HeaderMap& header,
                                                      std::string_view prefix);
// A field by the number rule: absent when blank, a fill value, or not a number.
Index parse_f64_opt(std::string_view field) noexcept;
// The eight fields at cols by the number rule, or absent when any one is absent; a position
// past the end of fields reads as an empty field.
Index8 parse_array_8(std::span<const std::string_view> fields,
                     const std::array<std::size_t, 8>& cols) noexcept;

}  // namespace detail
}  // namespace heliodex::celestrak
