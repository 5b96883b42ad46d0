#pragma once

#include "platform/linux/desktop/X11HotKeySystem.h"

namespace GlobalShortcuts {

// The key facts the X11 hot-key backend needs from this package: the XKB key name of each key code
// (KeyNames.h) and the keys that carry the Function modifier by themselves. Any thread.
platform::X11HotKeySystem::KeyTable x11KeyTable();

}  // namespace GlobalShortcuts
