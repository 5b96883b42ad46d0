// recorder-demo
//
// A window with the shortcut recorders of the two named shortcuts "translate" (initially Option+T, i.e.
// Alt+T) and "refine" (Option+R, Alt+R), on the real X11 hot keys, with the program's status menu as the
// menu whose shortcuts conflict. Click a recorder and press a combination (Ctrl is Command, Alt is Option,
// Super is Control): it is checked, stored in the program's settings (so hotkey-demo and the program use
// it too) and registered at once. Prints one line per recording, e.g. "translate recorded ⌥⌘K", and per
// key-down of either shortcut, e.g. "translate key-down". Runs until the window is closed or the program
// is interrupted. Needs an X11 display.
#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <string>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Recorder.h"
#include "app/quorvelleApp.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/desktop/MessageBoxAlertPresenter.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtSystemBeep.h"
#include "platform/linux/desktop/QtSystemInfo.h"
#include "platform/linux/desktop/X11Connection.h"
#include "program/X11ShortcutServices.h"

namespace {

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);

  auto x11 = platform::X11Connection::open();
  if (!x11) {
    std::fprintf(stderr, "recorder-demo: no X11 display with the XKB extension\n");
    return 1;
  }
  platform::QtMainExecutor executor;
  platform::FileUserDefaults defaults;
  platform::QtSystemInfo system;
  platform::MessageBoxAlertPresenter alerts;
  platform::QtSystemBeep beep;
  quorvelle::X11ShortcutServices shortcutServices(*x11, executor, defaults, &system,
                                                  &quorvelle::quorvelleApp::shortcutMenu, &alerts, &beep);

  using GlobalShortcuts::Key;
  using GlobalShortcuts::ModifierFlags;
  const GlobalShortcuts::Name translate("translate",
                                        GlobalShortcuts::Shortcut(Key::t, ModifierFlags::option));
  const GlobalShortcuts::Name refine("refine", GlobalShortcuts::Shortcut(Key::r, ModifierFlags::option));

  QWidget window;
  window.setWindowTitle(QStringLiteral("Quorvelle shortcuts"));
  auto* layout = new QVBoxLayout(&window);
  for (const auto* name : {&translate, &refine}) {
    const std::string text = name->rawValue();
    GlobalShortcuts::onKeyDown(*name, [text] { say(text + " key-down"); });
    const QString label = name == &translate ? QStringLiteral("Translate:") : QStringLiteral("Refine:");
    layout->addWidget(new GlobalShortcuts::Recorder(label, *name, [text](const auto& shortcut) {
      say(text + (shortcut ? " recorded " + shortcut->presentableDescription() : " cleared"));
    }));
  }
  window.show();
  return app.exec();
}
