#include "GlobalShortcuts/X11KeyTable.h"

#include <string>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/KeyNames.h"

namespace GlobalShortcuts {

platform::X11HotKeySystem::KeyTable x11KeyTable() {
  return {
      [](std::uint32_t code) -> std::optional<std::string> {
        const auto name = xkbKeyName(Key(code));
        if (!name) return std::nullopt;
        return std::string(*name);
      },
      [](std::uint32_t code) { return Key::keysWithSynthesizedFunctionModifier().contains(Key(code)); },
  };
}

}  // namespace GlobalShortcuts
