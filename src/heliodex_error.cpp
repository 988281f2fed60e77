#include "heliodex_error.hpp"

namespace heliodex {

std::string HeliodexError::message() const {
  switch (kind_) {
    case Kind::InvalidDate: return "invalid date";
    case Kind::InvalidIndex: return "invalid index value";
    case Kind::InvalidHeader: return "invalid or missing CSV header";
    case Kind::InvalidWindow: return "window must be a positive odd number";
    case Kind::ParseRow: break;
  }
  return "parse error at row " + std::to_string(row_) + ": " + message_;
}

}  // namespace heliodex
