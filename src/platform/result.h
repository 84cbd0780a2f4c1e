// Small result types for operations that fail for expected reasons.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace tamber {

// Error kinds a caller may want to tell apart; the message says the rest.
enum class Errc {
  io = 1,          // the operating system refused a read, write or sync
  corrupt,         // the file's structures are damaged
  not_found,       // no element or file of that name
  exists,          // an element of that name exists already
  invalid_name,    // a name the format does not allow
  locked,          // another open holds the file
  read_only,       // the file was opened read-only
  too_large,       // a size limit of the format
  in_use,          // the element is open
  broken,          // an earlier I/O failure left the open file unusable until revert
  invalid_argument,
  unsupported,
  cancelled,       // the user stopped the work
};

struct Error {
  Errc code = Errc::io;
  std::string message;
};

// Ok or an Error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error e) : error_(std::move(e)), ok_(false) {}  // NOLINT: implicit on purpose
  static Status ok() { return {}; }
  explicit operator bool() const { return ok_; }
  bool isOk() const { return ok_; }
  const Error& error() const {
    assert(!ok_);
    return error_;
  }
  const std::string& message() const { return error_.message; }

 private:
  Error error_;
  bool ok_ = true;
};

// A value or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T v) : v_(std::move(v)) {}      // NOLINT: implicit on purpose
  Result(Error e) : v_(std::move(e)) {}  // NOLINT
  Result(Status s) : v_(s.error()) {}    // NOLINT: only from a failed Status
  explicit operator bool() const { return v_.index() == 0; }
  bool isOk() const { return v_.index() == 0; }
  T& value() & { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const T& value() const& { return std::get<0>(v_); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T value_or(T fallback) const { return isOk() ? std::get<0>(v_) : fallback; }
  const Error& error() const { return std::get<1>(v_); }
  const std::string& message() const { return error().message; }
  Status status() const { return isOk() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace tamber
