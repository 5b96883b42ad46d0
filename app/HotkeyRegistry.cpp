#include "app/HotkeyRegistry.h"

#include "GlobalShortcuts/GlobalShortcuts.h"

namespace quorvelle {

HotkeyRegistry HotkeyRegistry::globalShortcuts() {
  return {[](const GlobalShortcuts::Name& name, std::function<void()> handler) {
            GlobalShortcuts::onKeyDown(name, std::move(handler));
          },
          [](const std::vector<GlobalShortcuts::Name>& names) { GlobalShortcuts::disable(names); },
          [](const std::vector<GlobalShortcuts::Name>& names) { GlobalShortcuts::enable(names); }};
}

}  // namespace quorvelle
