#include "GlobalShortcuts/KeyEvent.h"

#include <QKeyEvent>

#include "GlobalShortcuts/KeyNames.h"
#include "platform/KeyboardLayout.h"

namespace GlobalShortcuts {

std::optional<KeyEvent> KeyEvent::fromQKeyEvent(const QKeyEvent& event,
                                                const platform::KeyboardLayout& layout) {
  Type type;
  switch (event.type()) {
    case QEvent::KeyPress:
      type = Type::keyDown;
      break;
    case QEvent::KeyRelease:
      type = Type::keyUp;
      break;
    default:
      return std::nullopt;
  }
  const auto name = layout.keyNameForKeycode(event.nativeScanCode());
  if (!name) return std::nullopt;
  const auto key = keyForXkbKeyName(*name);
  if (!key || key->rawValue() < 0 || key->rawValue() > 0xFFFF) return std::nullopt;
  return KeyEvent{type, static_cast<std::uint16_t>(key->rawValue()), ModifierFlags::fromQt(event.modifiers()),
                  event.isAutoRepeat()};
}

}  // namespace GlobalShortcuts
