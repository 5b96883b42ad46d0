#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace quorvelle {

struct TranslationResult {
  std::string translated;

  // Nothing when `json` is not an object whose "translated" is a string.
  static std::optional<TranslationResult> decode(const nlohmann::json& json);
  friend bool operator==(const TranslationResult&, const TranslationResult&) = default;
};

}  // namespace quorvelle
