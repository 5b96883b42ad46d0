#include "program/X11ShortcutServices.h"

#include "program/X11KeyTable.h"

namespace quorvelle {

X11ShortcutServices::X11ShortcutServices(platform::X11Connection& x11, platform::MainExecutor& executor,
                                         platform::UserDefaults& defaults, platform::SystemInfo* system,
                                         std::function<GlobalShortcuts::Menu()> mainMenu,
                                         platform::AlertPresenter* alerts, platform::SystemBeep* beep)
    : hotKeys_(x11, x11KeyTable()), symbolicHotKeys_(hotKeys_), layout_(x11), installed_([&] {
        GlobalShortcuts::Environment environment;
        environment.mainExecutor = &executor;
        environment.userDefaults = &defaults;
        environment.hotKeySystem = &hotKeys_;
        environment.symbolicHotKeys = &symbolicHotKeys_;
        environment.menuTracking = &menus_;
        environment.keyboardLayout = &layout_;
        environment.systemInfo = system;
        environment.mainMenu = std::move(mainMenu);
        environment.alertPresenter = alerts;
        environment.systemBeep = beep;
        environment.keyRepeat = [this] {
          const auto repeat = hotKeys_.keyRepeat();
          return GlobalShortcuts::KeyRepeat{repeat.delay, repeat.interval};
        };
        return environment;
      }()) {}

}  // namespace quorvelle
