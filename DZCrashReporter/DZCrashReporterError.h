#pragma once

// The error that every call of the crash reporter's outer surface (everything outside the crash path:
// the facade, the report reader, the tools) reports instead of throwing. Errors are values: a call that
// yields something returns DZCrashReporterResult<T>; a call that yields nothing returns
// std::optional<DZCrashReporterError>, empty on success.
//
// An error has the domain "DZCrashReporterErrorDomain", a code from DZCrashReporterErrorCode, a
// description that is the text a person reads (already complete, never a lookup key), and, when an
// operating-system call failed underneath, the errno value of that call.
//
// Plain values: any thread, copy freely. Never used on the crash path (they allocate).

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace dzcrash {

inline constexpr std::string_view DZCrashReporterErrorDomain = "DZCrashReporterErrorDomain";

// The numbers are stable: they travel with errors into events and logs.
enum class DZCrashReporterErrorCode : int {
  // A live report could not be written or read back.
  outputFailed = 0,
  // An operating-system call failed; the errno cause says which failure.
  operatingSystem = 1,
  // Report bytes that cannot be decoded into a report.
  invalidCrashReport = 2,
  // A second enable in one process.
  alreadyEnabled = 3,
};

class DZCrashReporterError {
 public:
  DZCrashReporterError(DZCrashReporterErrorCode code, std::string description,
                       std::optional<int> posixErrno = std::nullopt)
      : code_(code), description_(std::move(description)), posixErrno_(posixErrno) {}

  static constexpr std::string_view domain() { return DZCrashReporterErrorDomain; }
  DZCrashReporterErrorCode code() const { return code_; }
  const std::string& description() const { return description_; }
  // The errno of the failed system call behind this error, when there was one.
  std::optional<int> posixErrno() const { return posixErrno_; }

  friend bool operator==(const DZCrashReporterError&, const DZCrashReporterError&) = default;

 private:
  DZCrashReporterErrorCode code_;
  std::string description_;
  std::optional<int> posixErrno_;
};

// The value of a successful call, or its error.
template <class T>
class DZCrashReporterResult {
 public:
  DZCrashReporterResult(T value) : state_(std::move(value)) {}                     // NOLINT: implicit
  DZCrashReporterResult(DZCrashReporterError error) : state_(std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return std::holds_alternative<T>(state_); }
  // Only when ok().
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  // Only when !ok().
  const DZCrashReporterError& error() const { return std::get<DZCrashReporterError>(state_); }

 private:
  std::variant<T, DZCrashReporterError> state_;
};

}  // namespace dzcrash
