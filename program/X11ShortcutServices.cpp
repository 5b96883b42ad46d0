#include "program/X11ShortcutServices.h"

#include "program/X11KeyTable.h"

namespace quorvelle {
namespace {

GlobalShortcuts::Environment environmentOf(platform::MainExecutor& executor, platform::UserDefaults& defaults,
                                           platform::HotKeySystem& hotKeys,
                                           platform::SymbolicHotKeys& symbolicHotKeys,
                                           platform::MenuTracking& menus) {
  GlobalShortcuts::Environment environment;
  environment.mainExecutor = &executor;
  environment.userDefaults = &defaults;
  environment.hotKeySystem = &hotKeys;
  environment.symbolicHotKeys = &symbolicHotKeys;
  environment.menuTracking = &menus;
  return environment;
}

}  // namespace

X11ShortcutServices::X11ShortcutServices(platform::X11Connection& x11, platform::MainExecutor& executor,
                                         platform::UserDefaults& defaults)
    : hotKeys_(x11, x11KeyTable()),
      symbolicHotKeys_(hotKeys_),
      installed_(environmentOf(executor, defaults, hotKeys_, symbolicHotKeys_, menus_)) {}

}  // namespace quorvelle
