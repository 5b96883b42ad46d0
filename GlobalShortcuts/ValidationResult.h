#pragma once

#include <string>
#include <utility>

namespace GlobalShortcuts {

// The answer of a recorder owner's own check of a recorded shortcut: allow, or disallow with the reason
// that the recorder shows as the title of its alert. Equal when both allow, or both disallow with the same
// reason. Plain value: any thread.
class ValidationResult {
 public:
  static ValidationResult allow() { return ValidationResult(true, {}); }
  // `reason` is UTF-8 text for people, already in their language.
  static ValidationResult disallow(std::string reason) { return ValidationResult(false, std::move(reason)); }

  bool isAllowed() const noexcept { return allowed_; }
  // Empty for allow.
  const std::string& reason() const noexcept { return reason_; }

  friend bool operator==(const ValidationResult&, const ValidationResult&) = default;

 private:
  ValidationResult(bool allowed, std::string reason) : allowed_(allowed), reason_(std::move(reason)) {}

  bool allowed_;
  std::string reason_;
};

}  // namespace GlobalShortcuts
