#include "GlobalShortcuts/X11ShortcutServices.h"

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/X11KeyTable.h"

namespace GlobalShortcuts {

X11ShortcutServices::X11ShortcutServices(platform::X11Connection& x11, platform::MainExecutor& executor,
                                         platform::UserDefaults& defaults)
    : hotKeys_(x11, x11KeyTable()), symbolicHotKeys_(hotKeys_) {
  Environment environment;
  environment.mainExecutor = &executor;
  environment.userDefaults = &defaults;
  environment.hotKeySystem = &hotKeys_;
  environment.symbolicHotKeys = &symbolicHotKeys_;
  environment.menuTracking = &menus_;
  installEnvironment(std::move(environment));
}

X11ShortcutServices::~X11ShortcutServices() {
  registry::reset();
  HotKeyCenter::dropShared();
}

}  // namespace GlobalShortcuts
