#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace quorvelle {

// The refined variants of a draft as one text; the popup model splits it into variants.
struct RefineResult {
  std::string refined;

  // Nothing when `json` is not an object whose "refined" is a string.
  static std::optional<RefineResult> decode(const nlohmann::json& json);
  friend bool operator==(const RefineResult&, const RefineResult&) = default;
};

}  // namespace quorvelle
