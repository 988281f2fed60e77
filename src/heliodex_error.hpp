#pragma once
#include <cstdint>
#include <string>

namespace heliodex {

class HeliodexError {
 public:
  enum class Kind { InvalidDate, InvalidIndex, InvalidHeader, InvalidWindow, ParseRow };

  static HeliodexError invalid_date() { return HeliodexError(Kind::InvalidDate); }
  static HeliodexError invalid_index() { return HeliodexError(Kind::InvalidIndex); }
  static HeliodexError invalid_header() { return HeliodexError(Kind::InvalidHeader); }
  static HeliodexError invalid_window() { return HeliodexError(Kind::InvalidWindow); }
  static HeliodexError parse_row(std::uint64_t row, std::string message) {
    HeliodexError e(Kind::ParseRow);
    e.row_ = row;
    e.message_ = std::move(message);
    return e;
  }

  Kind kind() const noexcept { return kind_; }
  // Row and message are meaningful for ParseRow only.
  std::uint64_t row() const noexcept { return row_; }
  const std::string& detail() const noexcept { return message_; }

  // The error's fixed text form, as shown to users.
  std::string message() const;

 private:
  explicit HeliodexError(Kind kind) : kind_(kind) {}
  Kind kind_;
  std::uint64_t row_ = 0;
  std::string message_;
};

}  // namespace heliodex
