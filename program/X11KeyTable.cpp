#include "program/X11KeyTable.h"

#include <string>

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/KeyNames.h"
#include "GlobalShortcuts/Shortcut.h"

namespace quorvelle {

platform::X11HotKeySystem::KeyTable x11KeyTable() {
  using GlobalShortcuts::Key;
  return {
      [](std::uint32_t code) -> std::optional<std::string> {
        const auto name = GlobalShortcuts::xkbKeyName(Key(code));
        if (!name) return std::nullopt;
        return std::string(*name);
      },
      [](std::uint32_t code) { return Key::keysWithSynthesizedFunctionModifier().contains(Key(code)); },
      [](std::uint32_t code, std::uint32_t modifiers) {
        const GlobalShortcuts::Shortcut shortcut(code, modifiers);
        if (const auto sequence = shortcut.toQKeySequence()) return sequence->toString().toStdString();
        return shortcut.presentableDescription();
      },
  };
}

}  // namespace quorvelle
