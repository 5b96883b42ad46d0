#pragma once

#include <QKeySequence>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/ModifierFlags.h"

namespace GlobalShortcuts {

class Name;
struct KeyEvent;
struct Menu;
struct MenuItem;

// One key with its modifier keys, in the units that hot keys are registered and stored in: a Carbon
// virtual key code and a Carbon modifier mask (the bits of platform::carbon: Command, Shift, Option,
// Control, Function).
//
// The constructors normalise the mask to those five bits; decoding stored JSON keeps the mask as stored,
// so a value written by hand or by another version reads back unchanged. Equality and hashing use both
// fields. The value itself may be used on any thread; the members that ask the keyboard layout or the
// system (system(), isTakenBySystem(), the menu members, the texts, toQKeySequence()) are main thread only.
class Shortcut {
 public:
  using Integer = std::int64_t;

  Shortcut(Integer carbonKeyCode, Integer carbonModifiers);
  Shortcut(Key key, ModifierFlags modifiers);

  // The key of a key-down or key-up event; nothing for other events. The Function flag is dropped, so a
  // key pressed with Fn is recorded without it.
  static std::optional<Shortcut> fromEvent(const KeyEvent& event);
  // The name's stored shortcut; nothing when cleared or when nothing readable is stored. The name's
  // initial shortcut is not consulted.
  static std::optional<Shortcut> fromName(const Name& name);

  Integer carbonKeyCode() const noexcept { return carbonKeyCode_; }
  Integer carbonModifiers() const noexcept { return carbonModifiers_; }
  // Always present: every key code is a key.
  std::optional<Key> key() const noexcept { return Key(carbonKeyCode_); }
  ModifierFlags modifiers() const noexcept { return ModifierFlags::fromCarbon(carbonModifiers_); }

  // The JSON object {"carbonKeyCode":17,"carbonModifiers":2048}: compact, key code first.
  std::string toJSON() const;
  // Both members must be present and be integers (in any order, other members ignored); nothing
  // otherwise. The mask is not normalised.
  static std::optional<Shortcut> fromJSON(std::string_view json);

  // The desktop's enabled hot keys, in its order (duplicates kept); read afresh on every call.
  static std::vector<Shortcut> system();
  // Whether the desktop uses this combination itself. Plain F12 never counts as taken.
  bool isTakenBySystem() const;
  // The first item, depth first in item order (an item before its submenu), whose key equivalent and
  // modifiers are this shortcut; nothing when none.
  const MenuItem* menuItemWithMatchingShortcut(const Menu& menu) const;
  // The key as a menu item shows it (UTF-8): the fixed symbol of a special key, otherwise the layout's
  // character for the key; nothing for keypad keys and keys the layout cannot type as one character.
  std::optional<std::string> menuItemKeyEquivalent() const;
  // The shortcut as a Linux desktop writes it: the modifiers by the edge rule in the desktop's order
  // (Super, Ctrl, Alt, Shift, then Fn), each followed by "+", then the special key's name, else the
  // layout's character for the key in upper case, else U+FFFD when the layout has no single character
  // for it (key codes outside 0 to 65535 never have one). Names come from the package's texts in the
  // user's language. Examples: "Alt+T", "Ctrl+Shift+Space", "Super+Alt+F5", "Ctrl+Num+1"; in German
  // "Strg+Umschalt+Leertaste". UTF-8.
  std::string presentableDescription() const;
  // The same text.
  std::string description() const { return presentableDescription(); }

  // The equivalent Qt key sequence (modifiers by the Linux edge rule: Command is Ctrl); nothing when the
  // key has no Qt key (keypad keys, keys the layout cannot type as one character).
  std::optional<QKeySequence> toQKeySequence() const;

  friend bool operator==(const Shortcut&, const Shortcut&) = default;

 private:
  struct Raw {};
  Shortcut(Raw, Integer carbonKeyCode, Integer carbonModifiers) noexcept
      : carbonKeyCode_(carbonKeyCode), carbonModifiers_(carbonModifiers) {}

  // The current layout's character for the key, typed without modifiers (UTF-8, one grapheme cluster);
  // nothing for special keys and for key codes outside 0 to 65535.
  std::optional<std::string> keyToCharacter() const;

  Integer carbonKeyCode_;
  Integer carbonModifiers_;
};

}  // namespace GlobalShortcuts

template <>
struct std::hash<GlobalShortcuts::Shortcut> {
  std::size_t operator()(const GlobalShortcuts::Shortcut& shortcut) const noexcept {
    const std::size_t code = std::hash<std::int64_t>{}(shortcut.carbonKeyCode());
    const std::size_t modifiers = std::hash<std::int64_t>{}(shortcut.carbonModifiers());
    return code ^ (modifiers + 0x9e3779b97f4a7c15ULL + (code << 6) + (code >> 2));
  }
};
