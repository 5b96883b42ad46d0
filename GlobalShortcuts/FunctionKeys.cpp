#include "GlobalShortcuts/FunctionKeys.h"

namespace GlobalShortcuts {

const std::unordered_set<char32_t>& functionKeyCharacters() {
  static const std::unordered_set<char32_t> characters = [] {
    std::unordered_set<char32_t> all;
    for (char32_t c = kFunctionKeyCharacterF1; c <= kFunctionKeyCharacterF35; ++c) all.insert(c);
    return all;
  }();
  return characters;
}

std::optional<char32_t> functionKeyCharacter(int qtKey) noexcept {
  if (qtKey < Qt::Key_F1 || qtKey > Qt::Key_F35) return std::nullopt;
  return static_cast<char32_t>(kFunctionKeyCharacterF1 + static_cast<char32_t>(qtKey - Qt::Key_F1));
}

}  // namespace GlobalShortcuts
