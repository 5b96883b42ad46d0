#include "app/TranslationResult.h"

#include <nlohmann/json.hpp>

namespace quorvelle {

std::optional<TranslationResult> TranslationResult::decode(const nlohmann::json& json) {
  if (!json.is_object()) return std::nullopt;
  const auto it = json.find("translated");
  if (it == json.end() || !it->is_string()) return std::nullopt;
  return TranslationResult{it->get<std::string>()};
}

}  // namespace quorvelle
