#pragma once

#include <optional>
#include <string>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// One evaluated feature flag. Its value is the variant when there is one, else whether it is enabled.
struct DiziZozFeatureFlagResult {
  std::string key{};
  bool enabled = false;
  std::optional<std::string> variant{};
  std::optional<Value> payload{};

  Value value() const { return variant ? Value(*variant) : Value(enabled); }
  bool operator==(const DiziZozFeatureFlagResult&) const = default;
};

}  // namespace dizizoz
