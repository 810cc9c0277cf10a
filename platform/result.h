// The one way the lower layers (platform, formats, script) report a failure
// that a caller must be able to explain: the value, or a Failure that says
// why not. An absence that is a normal answer (a missing key, a file that
// is not there) stays an std::optional; a failure is never a bare bool.
//
//   Result<SevenZipCatalogue> catalogue = readSevenZipCatalogue(...);
//   if (!catalogue) report(catalogue.why());
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lumo {

struct Failure {
  std::string why;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  // The reason of a failure; empty for a value.
  const std::string& why() const {
    static const std::string none;
    return state_.index() == 1 ? std::get<1>(state_).why : none;
  }

 private:
  std::variant<T, Failure> state_;
};

// An action that either succeeds or fails for a reason.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : why_(std::move(failure.why)), failed_(true) {}

  explicit operator bool() const { return !failed_; }
  const std::string& why() const { return why_; }

 private:
  std::string why_;
  bool failed_ = false;
};

}  // namespace lumo
