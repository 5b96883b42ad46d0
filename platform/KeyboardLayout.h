#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The user's current ASCII-capable keyboard layout. Keys are named by their XKB key names ("AD05"), which
// stand for physical positions whatever the layout prints on them. Main thread.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;

  // The text (UTF-8) that the key types without any modifier, as the layout gives it: it may be empty or
  // longer than one character. Nothing when there is no usable layout or the key is unknown.
  virtual std::optional<std::string> textForKey(std::string_view xkbKeyName) const = 0;

  // The XKB key name of a native key code (the X11 keycode carried by key events). Nothing for codes the
  // keymap does not name.
  virtual std::optional<std::string> keyNameForKeycode(std::uint32_t keycode) const = 0;
};

}  // namespace platform
