#pragma once

#include <optional>
#include <string>
#include <type_traits>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// One evaluated feature flag. Its value is the variant when there is one, else whether it is enabled.
struct DiziZozFeatureFlagResult {
  std::string key{};
  bool enabled = false;
  std::optional<std::string> variant{};
  std::optional<Value> payload{};

  Value value() const { return variant ? Value(*variant) : Value(enabled); }

  // The payload as `T` (any type JSON can be read into): the payload itself when it already is one, else a
  // JSON object or array read into `T`; nothing when there is no payload, it does not fit, or it is a
  // scalar of another kind. Never throws.
  template <typename T>
  std::optional<T> payloadAs() const noexcept {
    if (!payload) return std::nullopt;
    try {
      if constexpr (std::is_same_v<T, Value>) {
        return *payload;
      } else {
        if (alreadyOfType<T>(*payload)) return payload->template get<T>();
        if (payload->is_object() || payload->is_array()) return payload->template get<T>();
      }
    } catch (...) {
    }
    return std::nullopt;
  }

  bool operator==(const DiziZozFeatureFlagResult&) const = default;

 private:
  template <typename T>
  static bool alreadyOfType(const Value& value) {
    if constexpr (std::is_same_v<T, bool>)
      return value.is_boolean();
    else if constexpr (std::is_integral_v<T>)
      return value.is_number_integer();
    else if constexpr (std::is_floating_point_v<T>)
      return value.is_number();
    else if constexpr (std::is_convertible_v<std::string, T>)
      return value.is_string();
    else
      return false;
  }
};

}  // namespace dizizoz
