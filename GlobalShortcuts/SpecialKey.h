#pragma once

#include <QtCore/qnamespace.h>

#include <optional>
#include <string>

#include "GlobalShortcuts/Key.h"

namespace GlobalShortcuts {

// The keys that are never translated through the keyboard layout (Return, arrows, function keys, keypad
// keys, ...): each has a fixed menu key equivalent and a fixed Qt key instead. Any thread.
struct SpecialKey {
  // The key equivalent a menu item shows for the key (UTF-8); keypad keys have none.
  std::optional<std::string> menuItemKeyEquivalent;
  // The Qt key of a key sequence; keypad keys have none.
  std::optional<Qt::Key> qtKey;

  // The special key of `key`, or nothing for keys the layout translates.
  static const SpecialKey* forKey(Key key);
};

}  // namespace GlobalShortcuts
