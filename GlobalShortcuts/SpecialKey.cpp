#include "GlobalShortcuts/SpecialKey.h"

#include <unordered_map>
#include <vector>

#include "GlobalShortcuts/Character.h"
#include "GlobalShortcuts/Localization.h"

namespace GlobalShortcuts {
namespace {

struct Row {
  Key key;
  SpecialKey special;
};

SpecialKey named(std::string_view text, std::string menuEquivalent, Qt::Key qtKey) {
  return {text, {}, false, std::move(menuEquivalent), qtKey};
}

std::vector<Row> rows() {
  // The menu equivalents are the symbols menus match key equivalents by, not what people read.
  std::vector<Row> rows{
      {Key::return_, named(texts::returnKey, "\u21A9", Qt::Key_Return)},
      {Key::delete_, named(texts::backspaceKey, "\u232B", Qt::Key_Backspace)},
      {Key::deleteForward, named(texts::deleteKey, "\u2326", Qt::Key_Delete)},
      {Key::end, named(texts::endKey, "\u2198", Qt::Key_End)},
      {Key::escape, named(texts::escapeKey, "\u238B", Qt::Key_Escape)},
      // Where Mac keyboards have Help, PC keyboards have Insert (the same physical key, INS).
      {Key::help, named(texts::insertKey, "?\u20DD", Qt::Key_Help)},
      {Key::home, named(texts::homeKey, "\u2196", Qt::Key_Home)},
      {Key::space, named(texts::spaceKey, " ", Qt::Key_Space)},
      {Key::tab, named(texts::tabKey, "\u21E5", Qt::Key_Tab)},
      {Key::pageUp, named(texts::pageUpKey, "\u21DE", Qt::Key_PageUp)},
      {Key::pageDown, named(texts::pageDownKey, "\u21DF", Qt::Key_PageDown)},
      {Key::upArrow, named(texts::upKey, "\u2191", Qt::Key_Up)},
      {Key::rightArrow, named(texts::rightKey, "\u2192", Qt::Key_Right)},
      {Key::downArrow, named(texts::downKey, "\u2193", Qt::Key_Down)},
      {Key::leftArrow, named(texts::leftKey, "\u2190", Qt::Key_Left)},
  };
  const Key functionKeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
                              Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
                              Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
  for (int i = 0; i < 20; ++i) {
    // Menus name function keys by the private-use characters U+F704 (F1) to U+F717 (F20).
    rows.push_back({functionKeys[i],
                    {{},
                     "F" + std::to_string(i + 1),
                     false,
                     utf8(static_cast<char32_t>(0xF704 + i)),
                     static_cast<Qt::Key>(Qt::Key_F1 + i)}});
  }
  // The keypad's Clear sits where PC keyboards have Num Lock.
  rows.push_back({Key::keypadClear, {texts::numLockKey, {}, false, std::nullopt, std::nullopt}});
  const struct {
    Key key;
    const char* sign;
  } keypadKeys[] = {
      {Key::keypad0, "0"},         {Key::keypad1, "1"},       {Key::keypad2, "2"},
      {Key::keypad3, "3"},         {Key::keypad4, "4"},       {Key::keypad5, "5"},
      {Key::keypad6, "6"},         {Key::keypad7, "7"},       {Key::keypad8, "8"},
      {Key::keypad9, "9"},         {Key::keypadDecimal, "."}, {Key::keypadDivide, "/"},
      {Key::keypadEnter, "Enter"}, {Key::keypadEquals, "="},  {Key::keypadMinus, "-"},
      {Key::keypadMultiply, "*"},  {Key::keypadPlus, "+"},
  };
  for (const auto& keypad : keypadKeys) {
    rows.push_back({keypad.key, {{}, keypad.sign, true, std::nullopt, std::nullopt}});
  }
  return rows;
}

}  // namespace

std::string SpecialKey::presentableDescription() const {
  if (keypad) return capitalized(localizedString(texts::keypadKey)) + "+" + fixedName;
  if (!nameText.empty()) return capitalized(localizedString(nameText));
  return fixedName;
}

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
