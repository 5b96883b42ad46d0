#pragma once

#include <optional>
#include <string_view>

#include "GlobalShortcuts/Key.h"

namespace GlobalShortcuts {

// Key codes name physical positions, and so do XKB key names ("AD05" is the key right of R, whatever the
// layout prints on it). The X11 backends find a key's keycode with xkb_keymap_key_by_name() on the name
// given here, never through a keysym, so a shortcut stays on the same physical key under every layout.
//
// Positions are those of a US ANSI keyboard. The modifier keys follow the same edge rule as the modifier
// flags: the Command keys are the Control keys (LCTL, RCTL), the Control keys are the Super keys
// (LWIN, RWIN), the Option keys are Alt (LALT, RALT). Help sits where PC keyboards have Insert (INS) and
// the keypad's Clear where they have Num Lock (NMLK). Function (63) has no X11 key and no name; neither
// has any code without a named constant. Any thread.
std::optional<std::string_view> xkbKeyName(Key key) noexcept;

// The inverse, for canonical names as xkb_keymap_key_get_name() reports them; aliases ("AC12") and
// names of keys that have no code here give nothing.
std::optional<Key> keyForXkbKeyName(std::string_view name) noexcept;

}  // namespace GlobalShortcuts
