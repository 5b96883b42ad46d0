#pragma once

#include <functional>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/MenuTree.h"
#include "platform/AlertPresenter.h"
#include "platform/MainExecutor.h"
#include "platform/SystemBeep.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
#include "platform/linux/desktop/QtMenuTracking.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11HotKeySystem.h"
#include "platform/linux/desktop/X11KeyboardLayout.h"
#include "platform/linux/desktop/X11SymbolicHotKeys.h"

namespace quorvelle {

// The desktop's shortcut services on one X connection (hot keys, the list of combinations other clients
// hold, menu tracking, the live keyboard layout, the keyboard's auto-repeat setting), installed as the
// shortcuts package's environment for the object's life, with the user's languages for the package's texts,
// the application's menu for its conflict checks, and the alerts and beep of its recorders (all optional:
// English, no menu, no alert and no sound). Ending the object lets go of the package's hot keys first and
// then of the services. Main thread only; the connection, executor, defaults, system information, alerts
// and beep must outlive the object.
class X11ShortcutServices {
 public:
  X11ShortcutServices(platform::X11Connection& x11, platform::MainExecutor& executor,
                      platform::UserDefaults& defaults, platform::SystemInfo* system = nullptr,
                      std::function<GlobalShortcuts::Menu()> mainMenu = {},
                      platform::AlertPresenter* alerts = nullptr, platform::SystemBeep* beep = nullptr);
  X11ShortcutServices(const X11ShortcutServices&) = delete;
  X11ShortcutServices& operator=(const X11ShortcutServices&) = delete;

  // The hot-key backend, for tests that drive it directly.
  platform::X11HotKeySystem& hotKeys() { return hotKeys_; }

 private:
  platform::X11HotKeySystem hotKeys_;
  platform::X11SymbolicHotKeys symbolicHotKeys_;
  platform::QtMenuTracking menus_;
  platform::X11KeyboardLayout layout_;
  // Declared last, so that it is uninstalled while the services above still exist.
  GlobalShortcuts::InstalledEnvironment installed_;
};

}  // namespace quorvelle
