// The one way the lower layers (platform, formats, script) report a failure
// that a caller must be able to explain: the value, or a failure that says
// why not. An absence that is a normal answer (a missing key, a file that
// is not there) stays an std::optional; a failure is never a bare bool.
//
//   Result<SevenZipCatalogue> catalogue = readSevenZipCatalogue(...);
//   if (!catalogue) report(catalogue.why());
//
// Where callers act on the kind of a failure and not only explain it (the
// registry store's callers treat a missing key unlike a damaged store), the
// failure type is the second parameter: any struct with a `why` beside what
// tells the kinds apart, read with failure().
//
//   RegistryResult<RegistryKey> key = openKey(root, path);
//   if (!key && key.failure().status == RegistryStatus::NotFound) ...
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace lumo {

struct Failure {
  std::string why;
};

template <typename T, typename F = Failure>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(F failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  // The failure; only for a result that holds no value.
  const F& failure() const { return std::get<1>(state_); }
  // The reason of a failure; empty for a value.
  const std::string& why() const {
    static const std::string none;
    return state_.index() == 1 ? std::get<1>(state_).why : none;
  }

 private:
  std::variant<T, F> state_;
};

// An action that either succeeds or fails for a reason.
template <typename F>
class [[nodiscard]] Result<void, F> {
 public:
  Result() = default;
  Result(F failure) : failure_(std::move(failure)) {}

  explicit operator bool() const { return !failure_.has_value(); }
  // The failure; only for a failed action.
  const F& failure() const { return *failure_; }
  const std::string& why() const {
    static const std::string none;
    return failure_ ? failure_->why : none;
  }

 private:
  std::optional<F> failure_;
};

}  // namespace lumo
