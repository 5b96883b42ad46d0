#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GlobalShortcuts/ModifierFlags.h"

namespace GlobalShortcuts {

struct Menu;

// A menu as the shortcut checks see it: the application's menus are described with these values (their
// key equivalents as menus show them) so that a recorded shortcut can be compared with them. Plain values.
struct MenuItem {
  std::string title;
  // The character the item is reached with (UTF-8), as typed without Shift: an upper-case equivalent
  // means the item is reached with Shift. Empty for none.
  std::string keyEquivalent;
  ModifierFlags keyEquivalentModifierMask;
  // Empty for an item without submenu.
  std::shared_ptr<const Menu> submenu;
};

struct Menu {
  std::vector<MenuItem> items;
};

}  // namespace GlobalShortcuts
