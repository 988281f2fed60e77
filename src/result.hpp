#pragma once
#include <utility>
#include <variant>

#include "heliodex_error.hpp"

namespace heliodex {

// A value or a HeliodexError, with std::expected's shape (our fuzz compiler lacks <expected>).
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(HeliodexError error) : v_(std::in_place_index<1>, std::move(error)) {}

  explicit operator bool() const noexcept { return v_.index() == 0; }
  bool has_value() const noexcept { return v_.index() == 0; }
  T& operator*() & noexcept { return std::get<0>(v_); }
  const T& operator*() const& noexcept { return std::get<0>(v_); }
  T&& operator*() && noexcept { return std::get<0>(std::move(v_)); }
  T* operator->() noexcept { return &std::get<0>(v_); }
  const T* operator->() const noexcept { return &std::get<0>(v_); }
  HeliodexError& error() & noexcept { return std::get<1>(v_); }
  const HeliodexError& error() const& noexcept { return std::get<1>(v_); }
  HeliodexError&& error() && noexcept { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, HeliodexError> v_;
};

}  // namespace heliodex
