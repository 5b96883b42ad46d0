#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/KeyboardLayout.h"

namespace platform::fake {

// A keyboard layout given as a table of key names to texts and of keycodes to key names. usLayout() is a
// US layout on the evdev keycodes (keycode = evdev code + 8) for the letter, digit and punctuation keys,
// Space, Return, Tab, Escape, BackSpace, Delete, the left Shift, Ctrl, Alt and Super keys, the right Alt
// key (the modifier keys type nothing) and F1 to F12; unavailable() behaves as if there were no layout.
// Main thread.
class FakeKeyboardLayout final : public KeyboardLayout {
 public:
  FakeKeyboardLayout() = default;
  static FakeKeyboardLayout usLayout();
  static FakeKeyboardLayout unavailable();

  std::optional<std::string> textForKey(std::string_view xkbKeyName) const override;
  std::optional<std::string> keyNameForKeycode(std::uint32_t keycode) const override;

  void setText(std::string keyName, std::string text) { texts_[std::move(keyName)] = std::move(text); }
  void setKeycode(std::uint32_t keycode, std::string keyName) { keyNames_[keycode] = std::move(keyName); }

 private:
  bool available_ = true;
  std::map<std::string, std::string, std::less<>> texts_;
  std::map<std::uint32_t, std::string> keyNames_;
};

}  // namespace platform::fake
