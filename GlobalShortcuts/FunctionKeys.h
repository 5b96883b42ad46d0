#pragma once

#include <QtCore/qnamespace.h>

#include <optional>
#include <unordered_set>

namespace GlobalShortcuts {

// The "special key" of a key event, for the function keys: the private-use characters that key events
// carry for F1 to F35, U+F704 (F1) to U+F726 (F35), consecutive. Qt reports these keys as Qt::Key_F1 to
// Qt::Key_F35, also consecutive; functionKeyCharacter() maps one onto the other. The recorder accepts
// a shortcut without Control, Option or Command only when its key is one of these. Any thread.
inline constexpr char32_t kFunctionKeyCharacterF1 = 0xF704;
inline constexpr char32_t kFunctionKeyCharacterF35 = 0xF726;

// The 35 characters U+F704 to U+F726.
const std::unordered_set<char32_t>& functionKeyCharacters();

// The character of Qt::Key_F1 to Qt::Key_F35; nothing for every other key.
std::optional<char32_t> functionKeyCharacter(int qtKey) noexcept;

}  // namespace GlobalShortcuts
