#include "GlobalShortcuts/RecordingKeys.h"

#include "GlobalShortcuts/FunctionKeys.h"
#include "GlobalShortcuts/Key.h"

namespace GlobalShortcuts {
namespace {

// Every flag except Caps Lock and the keypad flag: any of them makes a command key an ordinary key.
constexpr ModifierFlags::RawValue kAnyModifier = 0xFFDE0000;
// Control, Option, Command, Help and the device-independent bits above Fn: without any of them only a
// function key may be recorded.
constexpr ModifierFlags::RawValue kCommandLikeModifier = 0xFF5C0000;

bool isModifierKey(int qtKey, std::optional<int> carbonKeyCode) {
  switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
      return true;
    default:
      break;
  }
  if (!carbonKeyCode) return false;
  for (const Key key : {Key::shift, Key::rightShift, Key::control, Key::rightControl, Key::option,
                        Key::rightOption, Key::command, Key::rightCommand, Key::capsLock, Key::function}) {
    if (key.rawValue() == *carbonKeyCode) return true;
  }
  return false;
}

}  // namespace

RecordingKeyAction recordingKeyAction(int qtKey, std::optional<int> carbonKeyCode, ModifierFlags modifiers) {
  if (isModifierKey(qtKey, carbonKeyCode)) return RecordingKeyAction::ignore;
  if ((modifiers.rawValue() & kAnyModifier) == 0) {
    // Backspace is the key that macOS calls Delete; Delete is its forward delete.
    switch (qtKey) {
      case Qt::Key_Tab:
        return RecordingKeyAction::moveFocus;
      case Qt::Key_Backspace:
      case Qt::Key_Delete:
        return RecordingKeyAction::clear;
      default:
        break;
    }
    if (carbonKeyCode == Key::escape.rawValue()) return RecordingKeyAction::stopRecording;
  }
  if ((modifiers.rawValue() & kCommandLikeModifier) == 0 && !functionKeyCharacter(qtKey)) {
    return RecordingKeyAction::refuse;
  }
  return RecordingKeyAction::record;
}

}  // namespace GlobalShortcuts
