#pragma once

#include <cstdint>
#include <optional>

#include "GlobalShortcuts/ModifierFlags.h"

class QKeyEvent;

namespace platform {
class KeyboardLayout;
}

namespace GlobalShortcuts {

// One keyboard event in the package's own terms: the Carbon key code of the physical key, the modifier
// flags in Cocoa units, and whether it is an auto-repeat. Filled from a QKeyEvent (below) or by the X11
// hot-key backend. Plain value: any thread.
struct KeyEvent {
  // The numbers are the event type numbers that event masks are built from (EventTypeMask).
  enum class Type : std::uint8_t { keyDown = 10, keyUp = 11, flagsChanged = 12 };

  Type type = Type::keyDown;
  std::uint16_t keyCode = 0;
  ModifierFlags modifierFlags;
  bool isRepeat = false;

  // A key press or release of Qt: the native keycode is found in `layout`'s keymap and turned into the
  // Carbon key code of that position; modifiers follow the Linux edge rule (ModifierFlags::fromQt).
  // Nothing for other events and for keys without a Carbon key code. Main thread.
  static std::optional<KeyEvent> fromQKeyEvent(const QKeyEvent& event,
                                               const platform::KeyboardLayout& layout);

  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

}  // namespace GlobalShortcuts
