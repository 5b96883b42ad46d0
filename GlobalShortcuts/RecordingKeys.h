#pragma once

#include <optional>

#include "GlobalShortcuts/ModifierFlags.h"

namespace GlobalShortcuts {

// What a key press means to a recorder that records, before any shortcut is built from it.
//
// A modifier key going down (Shift, Ctrl, Alt, Super, AltGr, Caps Lock, Num Lock, by its position or by
// what it types) is no key press to a recorder: X11 reports it as one, where macOS reports a change of
// modifier flags, and a shortcut needs a key besides its modifiers.
// Without any modifier (Caps Lock and the keypad flag do not count; Shift and Fn do), three keys are
// commands: Tab moves the focus on, Backspace and Delete clear the field, Escape stops recording.
// Otherwise a press without Control, Option or Command is refused (with a beep) unless its key is one of
// F1 to F35, so that plain and Shift letters never become global shortcuts. Everything else goes on to be
// recorded.
enum class RecordingKeyAction {
  ignore,
  moveFocus,
  clear,
  stopRecording,
  refuse,
  record,
};

// `qtKey` is the key the event reports (Qt::Key_Tab, Qt::Key_F5, ...); `carbonKeyCode` is the physical
// key, when the keyboard layout knows it; `modifiers` in Cocoa units. Any thread.
RecordingKeyAction recordingKeyAction(int qtKey, std::optional<int> carbonKeyCode, ModifierFlags modifiers);

}  // namespace GlobalShortcuts
