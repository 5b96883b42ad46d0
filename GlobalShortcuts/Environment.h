#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "GlobalShortcuts/KeyEventMonitor.h"
#include "GlobalShortcuts/MenuTree.h"

namespace platform {
class MainExecutor;
class UserDefaults;
class NotificationCenter;
class HotKeySystem;
class SymbolicHotKeys;
class MenuTracking;
class KeyboardLayout;
class SystemInfo;
class AlertPresenter;
class SystemBeep;
}  // namespace platform

namespace GlobalShortcuts {

// How a held key repeats: the first repeat after `delay`, then one every `interval`. The defaults are the
// X server's.
struct KeyRepeat {
  std::chrono::milliseconds delay{660};
  std::chrono::milliseconds interval{40};
};

// The services the shortcuts package works with. The package's process-wide objects (the shared hot-key
// center, the store of named shortcuts) reach the system only through the environment installed by an
// InstalledEnvironment (below): the program installs the real backends at start-up, before it creates any
// name; tests install fakes in their set-up. The package does not own the services.
struct Environment {
  // Required.
  platform::MainExecutor* mainExecutor = nullptr;
  platform::UserDefaults* userDefaults = nullptr;
  platform::HotKeySystem* hotKeySystem = nullptr;
  // Empty: platform::NotificationCenter::defaultCenter().
  platform::NotificationCenter* notificationCenter = nullptr;
  // Empty: the desktop reports no hot keys of its own.
  platform::SymbolicHotKeys* symbolicHotKeys = nullptr;
  // Empty: menus are never seen as open.
  platform::MenuTracking* menuTracking = nullptr;
  // Empty: no layout, so no key has a layout character.
  platform::KeyboardLayout* keyboardLayout = nullptr;
  // How the hot-key center watches the application's key events while a menu is open. Empty: the Qt
  // event monitors (which need a QApplication).
  KeyEventMonitorFactory makeKeyEventMonitor = {};
  // Whose preferred languages choose the language of the package's texts (Localization.h). Empty: English.
  platform::SystemInfo* systemInfo = nullptr;
  // The application's main menu as the shortcut checks see it, described afresh on every call (main
  // thread). Empty: a menu without items.
  std::function<Menu()> mainMenu = {};
  // The recorder's alerts. Empty: none is shown, and each is answered as if by its first button (a
  // conflict then refuses the shortcut).
  platform::AlertPresenter* alertPresenter = nullptr;
  // The recorder's beep for key presses that cannot be a shortcut. Empty: silence.
  platform::SystemBeep* systemBeep = nullptr;
  // Whether the desktop refuses this application shortcuts whose modifiers are Option alone or Option
  // with Shift. No Linux desktop does; tests set it.
  bool optionShortcutsDisallowed = false;
  // The user's key-repeat setting, read afresh on every call (main thread). Empty: the KeyRepeat defaults.
  std::function<KeyRepeat()> keyRepeat = {};
};

// Installs `environment` for the object's life and starts the package afresh (no handlers, no hot keys,
// switches on; the next name creation sets the package up). The destructor releases the package's hot
// keys (through the shared hot-key center, to the hot-key system) and then the center itself, while the
// services still exist, and uninstalls the environment: so the services must outlive this object, and
// this object must outlive every use of the package.
//
// One at a time: constructing a second one while one is alive throws std::logic_error. Throws
// std::invalid_argument when a required service is missing. Main thread.
class InstalledEnvironment {
 public:
  explicit InstalledEnvironment(Environment environment);
  ~InstalledEnvironment();
  InstalledEnvironment(const InstalledEnvironment&) = delete;
  InstalledEnvironment& operator=(const InstalledEnvironment&) = delete;
};

// The installed environment, with the defaults above filled in. Throws std::logic_error when none is
// installed. Main thread (the pointers themselves may be read on any thread once installed).
const Environment& environment();
// Whether an environment is installed: work queued on the main executor may outlive it. Main thread.
bool isEnvironmentInstalled();

}  // namespace GlobalShortcuts
