#pragma once

#include "GlobalShortcuts/Environment.h"
#include "platform/MainExecutor.h"
#include "platform/UserDefaults.h"
#include "platform/linux/desktop/QtMenuTracking.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11HotKeySystem.h"
#include "platform/linux/desktop/X11SymbolicHotKeys.h"

namespace quorvelle {

// The desktop's hot-key services on one X connection (hot keys, the list of combinations other clients
// hold, menu tracking), installed as the shortcuts package's environment for the object's life. Ending the
// object lets go of the package's hot keys first and then of the services. Main thread only; the
// connection, executor and defaults must outlive the object.
class X11ShortcutServices {
 public:
  X11ShortcutServices(platform::X11Connection& x11, platform::MainExecutor& executor,
                      platform::UserDefaults& defaults);
  X11ShortcutServices(const X11ShortcutServices&) = delete;
  X11ShortcutServices& operator=(const X11ShortcutServices&) = delete;

  // The hot-key backend, for tests that drive it directly.
  platform::X11HotKeySystem& hotKeys() { return hotKeys_; }

 private:
  platform::X11HotKeySystem hotKeys_;
  platform::X11SymbolicHotKeys symbolicHotKeys_;
  platform::QtMenuTracking menus_;
  // Declared last, so that it is uninstalled while the services above still exist.
  GlobalShortcuts::InstalledEnvironment installed_;
};

}  // namespace quorvelle
