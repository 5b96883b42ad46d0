#include "app/ShortcutNames.h"

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/ModifierFlags.h"
#include "GlobalShortcuts/Shortcut.h"

namespace quorvelle::shortcuts {

using GlobalShortcuts::Key;
using GlobalShortcuts::ModifierFlags;
using GlobalShortcuts::Name;
using GlobalShortcuts::Shortcut;

// Made at each call rather than kept: a name only writes its initial shortcut where nothing is stored,
// so this is the same as keeping one, and it stays right when the package's environment is replaced.
Name translate() {
  return Name("translate", Shortcut(Key::t, ModifierFlags::option));
}

Name refine() {
  return Name("refine", Shortcut(Key::r, ModifierFlags::option));
}

}  // namespace quorvelle::shortcuts
