#pragma once

#include "platform/linux/desktop/X11HotKeySystem.h"

namespace quorvelle {

// The key facts the X11 hot-key backend needs from the shortcuts package: the XKB key name of each key
// code (GlobalShortcuts/KeyNames.h) and the keys that carry the Function modifier by themselves. Any
// thread.
platform::X11HotKeySystem::KeyTable x11KeyTable();

}  // namespace quorvelle
