#pragma once

#include "platform/linux/desktop/X11HotKeySystem.h"

namespace quorvelle {

// The key facts the X11 hot-key backend needs from the shortcuts package: the XKB key name of each key
// code (GlobalShortcuts/KeyNames.h), the keys that carry the Function modifier by themselves, and a
// combination's text as the desktop writes it ("Alt+T", the key's character from the current layout).
// The names and keys from any thread; the text on the main thread, with the package's environment
// installed.
platform::X11HotKeySystem::KeyTable x11KeyTable();

}  // namespace quorvelle
