#include "platform/JsonDepth.h"

#include <utility>
#include <vector>

namespace platform {

bool jsonTextNestsDeeperThan(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > limit) return true;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return false;
}

bool jsonValueNestsDeeperThan(const nlohmann::json& value, std::size_t limit) {
  if (!value.is_structured()) return false;
  // Only containers go on the stack, each with its own depth.
  std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&value, 1}};
  while (!pending.empty()) {
    const auto [container, depth] = pending.back();
    pending.pop_back();
    if (depth > limit) return true;
    for (const auto& element : *container) {
      if (element.is_structured()) pending.emplace_back(&element, depth + 1);
    }
  }
  return false;
}

nlohmann::json parseBoundedJson(std::string_view text, std::size_t limit) {
  if (jsonTextNestsDeeperThan(text, limit)) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
}

}  // namespace platform
