#pragma once
// A small "value or error" holder: C++20 has no std::expected, and steps must return
// their product or an error without throwing.
#include <utility>
#include <variant>

namespace ombrel {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<E> unexpected(E error) {
  return Unexpected<E>{std::move(error)};
}

// Stand-in for "no product" (a step that only succeeds or fails).
struct Done {};

template <class T, class E>
class Expected {
 public:
  using value_type = T;  // the standard library's name

  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Expected(Unexpected<E> error) : state_(std::in_place_index<1>, std::move(error.error)) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return std::get<1>(state_); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

}  // namespace ombrel
