// Errors as values. Every failure the engine can meet is reported as an Error that says what
// happened and where (file, page) so that a user or a test can act on it; nothing throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace jet {

enum class ErrorCode {
  kIo,           // the operating system refused a read, write or open
  kNotDatabase,  // the file is not an Access database at all
  kEncrypted,    // encrypted or password-protected database
  kCorrupt,      // a structure is malformed (bad page type, offset out of range, cycle, ...)
  kUnsupported,  // valid but not something the engine handles
  kNotFound,     // a named table, column or index does not exist
  kInvalidArgument,
  kReadOnly,     // a write to a file the engine only reads
  kLocked,       // another writer holds the database
  kConstraint,   // a unique index or similar rule refuses the change
};

class Error {
 public:
  Error(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}

  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }

  // Prefixes context ("reading table Songs: ...") while keeping the code.
  Error WithContext(const std::string& context) const {
    return Error(code_, context + ": " + message_);
  }

 private:
  ErrorCode code_;
  std::string message_;
};

// A Status is either OK or an Error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design
  static Status Ok() { return Status(); }

  bool ok() const { return !error_.has_value(); }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

// Result<T> holds a T or an Error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::move(value)) {}          // NOLINT: implicit by design
  Result(Error error) : data_(std::move(error)) {}      // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(data_); }
  const Error& error() const { return std::get<Error>(data_); }
  Status status() const { return ok() ? Status() : Status(error()); }

  T& value() & { return std::get<T>(data_); }
  const T& value() const& { return std::get<T>(data_); }
  T&& value() && { return std::get<T>(std::move(data_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, Error> data_;
};

}  // namespace jet

// Propagation helpers in the style of the engine's model codebases.
#define JET_RETURN_IF_ERROR(expr)                  \
  do {                                             \
    auto jet_status_ = (expr);                     \
    if (!jet_status_.ok()) return jet_status_.error(); \
  } while (0)

#define JET_CONCAT_INNER(a, b) a##b
#define JET_CONCAT(a, b) JET_CONCAT_INNER(a, b)
#define JET_ASSIGN_OR_RETURN(lhs, expr) \
  JET_ASSIGN_OR_RETURN_IMPL(JET_CONCAT(jet_result_, __LINE__), lhs, expr)
#define JET_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                              \
  if (!tmp.ok()) return tmp.error();              \
  lhs = std::move(tmp).value()
