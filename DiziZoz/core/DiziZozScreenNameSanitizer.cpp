#include "DiziZoz/core/DiziZozScreenNameSanitizer.h"

namespace dizizoz {
namespace {

constexpr std::string_view hostingWrapper = "UIHostingController";
constexpr std::string_view modifierWrapper = "ModifiedContent";
constexpr std::string_view typeErasedView = "AnyView";

// Spaces and tabs only: a line break inside a generic argument is kept.
std::string_view trimmedSpacesAndTabs(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string_view> DiziZozScreenNameSanitizer::stripGeneric(std::string_view name,
                                                                         std::string_view wrapper) {
  if (name.size() < wrapper.size() + 2 || !name.starts_with(wrapper) || name[wrapper.size()] != '<' ||
      !name.ends_with('>')) {
    return std::nullopt;
  }
  return name.substr(wrapper.size() + 1, name.size() - wrapper.size() - 2);
}

std::optional<std::string_view> DiziZozScreenNameSanitizer::firstGenericArgument(std::string_view text) {
  int depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<') {
      ++depth;
    } else if (c == '>') {
      --depth;
    } else if (c == ',' && depth == 0) {
      return trimmedSpacesAndTabs(text.substr(0, i));
    }
  }
  const auto whole = trimmedSpacesAndTabs(text);
  if (whole.empty()) return std::nullopt;
  return whole;
}

std::optional<std::string> DiziZozScreenNameSanitizer::sanitize(std::string_view rawScreenName) {
  std::string_view name = rawScreenName;
  bool unwrapped = false;
  if (auto inner = stripGeneric(name, hostingWrapper)) {
    name = *inner;
    unwrapped = true;
  }
  while (true) {
    auto inner = stripGeneric(name, modifierWrapper);
    if (!inner) break;
    auto argument = firstGenericArgument(*inner);
    if (!argument) break;
    name = *argument;
    unwrapped = true;
  }
  if (name.empty() || (unwrapped && name == typeErasedView)) return std::nullopt;
  return std::string(name);
}

}  // namespace dizizoz
