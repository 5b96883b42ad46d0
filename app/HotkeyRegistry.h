#pragma once

#include <functional>
#include <vector>

#include "GlobalShortcuts/Name.h"

namespace quorvelle {

// The calls the application makes on the shortcut registry, so that start-up can be driven without
// system hot keys. The program wires them to the GlobalShortcuts functions of the same names.
struct HotkeyRegistry {
  std::function<void(const GlobalShortcuts::Name&, std::function<void()>)> onKeyDown;
  std::function<void(const std::vector<GlobalShortcuts::Name>&)> disable;
  std::function<void(const std::vector<GlobalShortcuts::Name>&)> enable;

  // The shortcuts package's own registry.
  static HotkeyRegistry globalShortcuts();
};

}  // namespace quorvelle
