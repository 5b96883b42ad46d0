#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct xkb_keymap;

namespace platform {

// What the keyboard-layout backends read from an xkbcommon keymap (XkbKeyboardLayout, X11KeyboardLayout).
// Nothing is cached: every call reads the keymap it is given. Any thread, for a keymap nobody changes.

// The text (UTF-8) that the key named `keyName` ("AD05", aliases too) types without modifiers (level 0) in
// the keymap's ASCII-capable group: `currentGroup` (the group the user has switched to) when its letter
// keys type ASCII, else the first group whose letter keys do, else `currentGroup` after all. A key with one
// keysym gives its character (empty for keysyms without one); a dead key gives its spacing accent (the
// circumflex dead key gives "^"). Nothing for unknown keys and keys without exactly one keysym there.
std::optional<std::string> xkbTextForKey(xkb_keymap* keymap, std::uint32_t currentGroup,
                                         std::string_view keyName);

// The canonical XKB name of `keycode`; nothing when the keymap has no such key.
std::optional<std::string> xkbNameForKeycode(xkb_keymap* keymap, std::uint32_t keycode);

}  // namespace platform
