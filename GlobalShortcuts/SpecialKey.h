#pragma once

#include <QtCore/qnamespace.h>

#include <optional>
#include <string>

#include "GlobalShortcuts/Key.h"

namespace GlobalShortcuts {

// The 53 keys that are never translated through the keyboard layout (Return, arrows, function keys, keypad
// keys, ...): each is shown by a fixed symbol and has a fixed menu key equivalent and Qt key instead.
// The table itself may be read on any thread; presentableDescription() is main thread only.
struct SpecialKey {
  // What people see for the key (UTF-8). Empty for Space, which is shown by its name in the user's
  // language.
  std::string symbol;
  // The key equivalent a menu item shows for the key (UTF-8); keypad keys have none.
  std::optional<std::string> menuItemKeyEquivalent;
  // The Qt key of a key sequence; keypad keys have none.
  std::optional<Qt::Key> qtKey;

  // The key as a shortcut's text shows it: its symbol, or for Space its localised name ("space_key"),
  // capitalised.
  std::string presentableDescription() const;

  // The special key of `key`, or nothing for keys the layout translates.
  static const SpecialKey* forKey(Key key);
};

}  // namespace GlobalShortcuts
