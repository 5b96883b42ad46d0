// recorder-demo
//
// A window with the shortcut recorders of the two named shortcuts "translate" (initially Option+T, i.e.
// Alt+T) and "refine" (Option+R, Alt+R), on the real X11 hot keys, with the program's status menu as the
// menu whose shortcuts conflict. Click a recorder and press a combination (Ctrl is Command, Alt is Option,
// Super is Control): it is checked, stored in the program's settings (so hotkey-demo and the program use
// it too) and registered at once. Prints one line per recording, e.g. "translate recorded Ctrl+Alt+K", and
// per key-down of either shortcut, e.g. "translate key-down". Runs until the window is closed or the program
// is interrupted. Needs an X11 display.
#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <string>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Recorder.h"
#include "app/ShortcutNames.h"
#include "app/quorvelleApp.h"
#include "tools/DemoShortcutServices.h"

namespace {

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);

  const auto demo = DemoShortcutServices::open("recorder-demo", &quorvelle::quorvelleApp::shortcutMenu);
  if (!demo) return 1;

  const auto translate = quorvelle::shortcuts::translate();
  const auto refine = quorvelle::shortcuts::refine();

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
