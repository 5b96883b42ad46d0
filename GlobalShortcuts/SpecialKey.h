#pragma once

#include <QtCore/qnamespace.h>

#include <optional>
#include <string>
#include <string_view>

#include "GlobalShortcuts/Key.h"

namespace GlobalShortcuts {

// The 53 keys that are never translated through the keyboard layout (Return, arrows, function keys, keypad
// keys, ...): each is shown by a fixed name as a Linux desktop writes it, and has a fixed menu key
// equivalent and Qt key instead. The table itself may be read on any thread; presentableDescription() is
// main thread only.
struct SpecialKey {
  // What people read for the key: a text of the package's string tables (Localization.h), so that the
  // names follow the user's language ("Entf" for Delete in German), or, when empty, `fixedName` as it is
  // ("F5"). Keypad keys read "Num+" and their sign, with "Num" from the tables too.
  std::string_view nameText;
  std::string fixedName;
  bool keypad = false;
  // The key equivalent a menu item shows for the key (UTF-8); keypad keys have none.
  std::optional<std::string> menuItemKeyEquivalent;
  // The Qt key of a key sequence; keypad keys have none.
  std::optional<Qt::Key> qtKey;

  // The key as a shortcut's text shows it, capitalised: "Space" (by its localised name), "PgDown", "F5",
  // "Num+1". UTF-8.
  std::string presentableDescription() const;

  // The special key of `key`, or nothing for keys the layout translates.
  static const SpecialKey* forKey(Key key);
};

}  // namespace GlobalShortcuts
