// hotkey-demo [--repeat]
//
// Registers the two named shortcuts "translate" (Option+T, i.e. Alt+T) and "refine" (Option+R, Alt+R) as
// system-wide hot keys through the shortcut registry and prints one line for each key-down and key-up,
// e.g. "translate key-down". With --repeat it prints "translate tick" instead, once when the shortcut is
// pressed and again at the keyboard's auto-repeat rate for as long as it is held. Stored shortcuts for the
// two names (in the program's settings) win over those initial ones. Says "hotkey-demo: listening" on
// standard error once the hot keys are registered. Runs until interrupted (Ctrl+C). Needs an X11 display.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <vector>

#include "GlobalShortcuts/EventStreams.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "app/ShortcutNames.h"
#include "platform/Task.h"
#include "tools/DemoShortcutServices.h"

namespace {

void say(const char* name, const char* what) {
  std::printf("%s %s\n", name, what);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const bool repeat = argc == 2 && std::strcmp(argv[1], "--repeat") == 0;
  if (argc > 2 || (argc == 2 && !repeat)) {
    std::fprintf(stderr, "usage: hotkey-demo [--repeat]\n");
    return 2;
  }
  QApplication app(argc, argv);

  const auto demo = DemoShortcutServices::open("hotkey-demo");
  if (!demo) return 1;

  const auto translate = quorvelle::shortcuts::translate();
  const auto refine = quorvelle::shortcuts::refine();
  const platform::Task reader(demo->executor);
  // Declared after the services: the streams end first.
  std::vector<GlobalShortcuts::RepeatStream> ticks;
  for (const auto* name : {&translate, &refine}) {
    const char* text = name == &translate ? "translate" : "refine";
    if (repeat) {
      ticks.push_back(GlobalShortcuts::repeatingKeyDownEvents(*name));
      ticks.back().forEach(reader, [text](std::monostate) { say(text, "tick"); });
    } else {
      GlobalShortcuts::onKeyDown(*name, [text] { say(text, "key-down"); });
      GlobalShortcuts::onKeyUp(*name, [text] { say(text, "key-up"); });
    }
    if (!GlobalShortcuts::isEnabled(*name)) {
      std::fprintf(stderr, "hotkey-demo: %s: the hot key is taken by another program or has no shortcut\n",
                   text);
    }
  }
  std::fprintf(stderr, "hotkey-demo: listening; press the shortcuts (Ctrl+C ends)\n");
  return app.exec();
}
