#pragma once

#include "platform/MainExecutor.h"
#include "platform/UserDefaults.h"
#include "platform/linux/desktop/QtMenuTracking.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11HotKeySystem.h"
#include "platform/linux/desktop/X11SymbolicHotKeys.h"

namespace GlobalShortcuts {

// The desktop's hot-key services on one X connection (hot keys, the list of combinations other clients
// hold, menu tracking), installed as this package's environment for the object's life. The package keeps
// process-wide state that reaches these services and outlives main, so the destructor lets go of the
// registry's hot keys and the shared center while the services still exist. Main thread only; the
// connection, executor and defaults must outlive the object.
class X11ShortcutServices {
 public:
  X11ShortcutServices(platform::X11Connection& x11, platform::MainExecutor& executor,
                      platform::UserDefaults& defaults);
  ~X11ShortcutServices();
  X11ShortcutServices(const X11ShortcutServices&) = delete;
  X11ShortcutServices& operator=(const X11ShortcutServices&) = delete;

 private:
  platform::X11HotKeySystem hotKeys_;
  platform::X11SymbolicHotKeys symbolicHotKeys_;
  platform::QtMenuTracking menus_;
};

}  // namespace GlobalShortcuts
