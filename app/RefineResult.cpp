#include "app/RefineResult.h"

#include <nlohmann/json.hpp>

namespace quorvelle {

std::optional<RefineResult> RefineResult::decode(const nlohmann::json& json) {
  if (!json.is_object()) return std::nullopt;
  const auto it = json.find("refined");
  if (it == json.end() || !it->is_string()) return std::nullopt;
  return RefineResult{it->get<std::string>()};
}

}  // namespace quorvelle
