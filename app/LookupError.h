#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quorvelle {

// The error of the backend client. Its description is what the popup shows in place of a result.
class LookupError {
 public:
  enum class Kind { server, backendUnreachable };

  static LookupError server(std::string message) { return LookupError(Kind::server, std::move(message)); }
  static LookupError backendUnreachable() { return LookupError(Kind::backendUnreachable, {}); }

  Kind kind() const { return kind_; }
  // The server case's message; empty for backendUnreachable.
  const std::string& message() const { return message_; }
  std::string errorDescription() const;

  friend bool operator==(const LookupError&, const LookupError&) = default;

 private:
  LookupError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
  Kind kind_;
  std::string message_;
};

// A result of the backend client: the decoded value or the error.
template <class T>
class LookupResult {
 public:
  LookupResult(T value) : state_(std::move(value)) {}            // NOLINT: implicit on purpose
  LookupResult(LookupError error) : state_(std::move(error)) {}  // NOLINT: implicit on purpose

  bool ok() const { return std::holds_alternative<T>(state_); }
  const T& value() const { return std::get<T>(state_); }
  const LookupError& error() const { return std::get<LookupError>(state_); }

 private:
  std::variant<T, LookupError> state_;
};

}  // namespace quorvelle
