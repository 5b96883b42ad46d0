// hotkey-demo
//
// Registers the two named shortcuts "translate" (Option+T, i.e. Alt+T) and "refine" (Option+R, Alt+R) as
// system-wide hot keys through the shortcut registry and prints one line for each key-down and key-up,
// e.g. "translate key-down". Stored shortcuts for the two names (in the program's settings) win over those
// initial ones. Runs until interrupted (Ctrl+C). Needs an X11 display.
#include <QApplication>
#include <cstdio>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Key.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/desktop/MessageBoxAlertPresenter.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtSystemBeep.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/X11ShortcutServices.h"

namespace {

void say(const char* name, const char* what) {
  std::printf("%s %s\n", name, what);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);

  auto x11 = platform::X11Connection::open();
  if (!x11) {
    std::fprintf(stderr, "hotkey-demo: no X11 display with the XKB extension\n");
    return 1;
  }
  platform::QtMainExecutor executor;
  platform::FileUserDefaults defaults;
  platform::MessageBoxAlertPresenter alerts;
  platform::QtSystemBeep beep;
  quorvelle::X11ShortcutServices shortcutServices(*x11, executor, defaults, nullptr, {}, &alerts, &beep);

  using GlobalShortcuts::Key;
  using GlobalShortcuts::ModifierFlags;
  const GlobalShortcuts::Name translate("translate",
                                        GlobalShortcuts::Shortcut(Key::t, ModifierFlags::option));
  const GlobalShortcuts::Name refine("refine", GlobalShortcuts::Shortcut(Key::r, ModifierFlags::option));
  for (const auto* name : {&translate, &refine}) {
    const char* text = name == &translate ? "translate" : "refine";
    GlobalShortcuts::onKeyDown(*name, [text] { say(text, "key-down"); });
    GlobalShortcuts::onKeyUp(*name, [text] { say(text, "key-up"); });
    if (!GlobalShortcuts::isEnabled(*name)) {
      std::fprintf(stderr, "hotkey-demo: %s: the hot key is taken by another program or has no shortcut\n",
                   text);
    }
  }
  return app.exec();
}
