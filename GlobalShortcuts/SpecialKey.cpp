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

// U+20E3, the combining enclosing keycap that marks a keypad key's digit or sign.
constexpr const char* kKeycap = "\u20E3";

std::vector<Row> rows() {
  std::vector<Row> rows{
      {Key::return_, {"\u21A9", "\u21A9", Qt::Key_Return}},
      {Key::delete_, {"\u232B", "\u232B", Qt::Key_Backspace}},
      {Key::deleteForward, {"\u2326", "\u2326", Qt::Key_Delete}},
      {Key::end, {"\u2198", "\u2198", Qt::Key_End}},
      {Key::escape, {"\u238B", "\u238B", Qt::Key_Escape}},
      {Key::help, {"?\u20DD", "?\u20DD", Qt::Key_Help}},
      {Key::home, {"\u2196", "\u2196", Qt::Key_Home}},
      {Key::space, {"", " ", Qt::Key_Space}},
      {Key::tab, {"\u21E5", "\u21E5", Qt::Key_Tab}},
      {Key::pageUp, {"\u21DE", "\u21DE", Qt::Key_PageUp}},
      {Key::pageDown, {"\u21DF", "\u21DF", Qt::Key_PageDown}},
      {Key::upArrow, {"\u2191", "\u2191", Qt::Key_Up}},
      {Key::rightArrow, {"\u2192", "\u2192", Qt::Key_Right}},
      {Key::downArrow, {"\u2193", "\u2193", Qt::Key_Down}},
      {Key::leftArrow, {"\u2190", "\u2190", Qt::Key_Left}},
  };
  const Key functionKeys[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
                              Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
                              Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
  for (int i = 0; i < 20; ++i) {
    // Menus name function keys by the private-use characters U+F704 (F1) to U+F717 (F20).
    rows.push_back({functionKeys[i],
                    {"F" + std::to_string(i + 1), utf8(static_cast<char32_t>(0xF704 + i)),
                     static_cast<Qt::Key>(Qt::Key_F1 + i)}});
  }
  const struct {
    Key key;
    const char* sign;
  } keypadKeys[] = {
      {Key::keypad0, "0"},      {Key::keypad1, "1"},          {Key::keypad2, "2"},
      {Key::keypad3, "3"},      {Key::keypad4, "4"},          {Key::keypad5, "5"},
      {Key::keypad6, "6"},      {Key::keypad7, "7"},          {Key::keypad8, "8"},
      {Key::keypad9, "9"},      {Key::keypadClear, "\u2612"}, {Key::keypadDecimal, "."},
      {Key::keypadDivide, "/"}, {Key::keypadEnter, "\u21A9"}, {Key::keypadEquals, "="},
      {Key::keypadMinus, "-"},  {Key::keypadMultiply, "*"},   {Key::keypadPlus, "+"},
  };
  for (const auto& keypad : keypadKeys) {
    rows.push_back({keypad.key, {std::string(keypad.sign) + kKeycap, std::nullopt, std::nullopt}});
  }
  return rows;
}

}  // namespace

std::string SpecialKey::presentableDescription() const {
  if (!symbol.empty()) return symbol;
  return capitalized(localizedString(texts::spaceKey));
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
