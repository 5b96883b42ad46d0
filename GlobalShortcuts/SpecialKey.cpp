#include "GlobalShortcuts/SpecialKey.h"

#include <unordered_map>
#include <vector>

namespace GlobalShortcuts {
namespace {

struct Row {
  Key key;
  SpecialKey special;
};

// Function-key characters of the private use area, U+F704 (F1) to U+F717 (F20), as menus use them.
std::string functionKeyCharacter(int number) {
  const char32_t codePoint = 0xF703 + static_cast<char32_t>(number);
  std::string text;
  text += static_cast<char>(0xE0 | (codePoint >> 12));
  text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  text += static_cast<char>(0x80 | (codePoint & 0x3F));
  return text;
}

std::vector<Row> rows() {
  std::vector<Row> rows{
      {Key::return_, {"\u21A9", Qt::Key_Return}},
      {Key::delete_, {"\u232B", Qt::Key_Backspace}},
      {Key::deleteForward, {"\u2326", Qt::Key_Delete}},
      {Key::end, {"\u2198", Qt::Key_End}},
      {Key::escape, {"\u238B", Qt::Key_Escape}},
      {Key::help, {"?\u20DD", Qt::Key_Help}},
      {Key::home, {"\u2196", Qt::Key_Home}},
      {Key::space, {" ", Qt::Key_Space}},
      {Key::tab, {"\u21E5", Qt::Key_Tab}},
      {Key::pageUp, {"\u21DE", Qt::Key_PageUp}},
      {Key::pageDown, {"\u21DF", Qt::Key_PageDown}},
      {Key::upArrow, {"\u2191", Qt::Key_Up}},
      {Key::rightArrow, {"\u2192", Qt::Key_Right}},
      {Key::downArrow, {"\u2193", Qt::Key_Down}},
      {Key::leftArrow, {"\u2190", Qt::Key_Left}},
  };
  const Key functionKeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
                              Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
                              Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
  for (int i = 0; i < 20; ++i) {
    rows.push_back({functionKeys[i], {functionKeyCharacter(i + 1), static_cast<Qt::Key>(Qt::Key_F1 + i)}});
  }
  for (const Key key :
       {Key::keypad0, Key::keypad1, Key::keypad2, Key::keypad3, Key::keypad4, Key::keypad5, Key::keypad6,
        Key::keypad7, Key::keypad8, Key::keypad9, Key::keypadClear, Key::keypadDecimal, Key::keypadDivide,
        Key::keypadEnter, Key::keypadEquals, Key::keypadMinus, Key::keypadMultiply, Key::keypadPlus}) {
    rows.push_back({key, {std::nullopt, std::nullopt}});
  }
  return rows;
}

}  // namespace

const SpecialKey* SpecialKey::forKey(Key key) {
  static const auto* table = [] {
    auto* map = new std::unordered_map<Key, SpecialKey>;
    for (auto& row : rows()) map->emplace(row.key, std::move(row.special));
    return map;
  }();
  const auto it = table->find(key);
  return it == table->end() ? nullptr : &it->second;
}

}  // namespace GlobalShortcuts
