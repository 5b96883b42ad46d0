// Renders the settings window in each of its states to PNG files, for a person to look at:
//   window-gallery <folder>
// The Translating pane, the Refining pane with the key entry, with a stored key and after a key the
// keyring refused, and the accessibility bar. Everything behind the window is in memory (the settings, the
// keyring, the hot keys); nothing is stored on the machine. Runs on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise. Any Qt warning while rendering makes the run fail, after every file has
// been written.

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <functional>
#include <vector>

#include "GlobalShortcuts/Environment.h"
#include "platform/fake/FakeHotKeySystem.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/linux/desktop/QtAppShell.h"
#include "tools/GalleryRun.h"
#include "ui/SettingsView.h"

namespace {

using quorvelle::SettingsView;
using Pane = quorvelle::SettingsModel::Pane;

// One window's world, in memory.
struct World {
  platform::fake::ManualExecutor executor;
  platform::fake::MemoryUserDefaults defaults;
  platform::fake::FakeHotKeySystem hotKeys;
  platform::fake::FakeKeyboardLayout layout = platform::fake::FakeKeyboardLayout::usLayout();
  platform::NotificationCenter notifications;
  platform::fake::FixedSystemInfo system{{"uk-UA"}};
  quorvelle::AppSettings settings{defaults, system};
  platform::fake::MemorySecretStore secrets;
  platform::fake::InlineSerialQueue keyringWorker;
  quorvelle::Keychain keychain{secrets, keyringWorker, executor};
  quorvelle::GeminiKeyManager geminiKey{keychain};
  platform::fake::ScriptedAccessibility accessibility;
  platform::fake::ManualWorkspace workspace;
  quorvelle::WindowServices services{settings, geminiKey, accessibility, workspace, notifications, executor};
  GlobalShortcuts::InstalledEnvironment installed{{.mainExecutor = &executor,
                                                   .userDefaults = &defaults,
                                                   .hotKeySystem = &hotKeys,
                                                   .notificationCenter = &notifications,
                                                   .keyboardLayout = &layout}};
};

struct State {
  const char* name;
  // Before the window is made.
  std::function<void(World&)> arrange;
  // Once it is shown.
  std::function<void(World&, SettingsView&)> act;
};

std::vector<State> states() {
  return {
      {"translating", {}, {}},
      {"refining-entry", {}, [](World&, SettingsView& v) { v.model().selectPane(Pane::refining); }},
      {"refining-stored",
       [](World& w) {
         w.secrets.write(quorvelle::GeminiKeyManager::kService, quorvelle::GeminiKeyManager::kAccount,
                         "AIzaSyD-example-9f3K");
       },
       [](World&, SettingsView& v) { v.model().selectPane(Pane::refining); }},
      {"refining-key-refused", [](World& w) { w.secrets.setFailing(true); },
       [](World&, SettingsView& v) {
         v.model().selectPane(Pane::refining);
         v.geminiKeyField()->insert(QStringLiteral("AIzaSyD-example-9f3K"));
         v.saveKeyButton()->click();
       }},
      {"accessibility-bar", [](World& w) { w.accessibility.trusted = false; }, {}},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window-gallery <output folder>\n");
    return 2;
  }
  GalleryRun run("window-gallery");
  QApplication app(argc, argv);
  run.install();
  QApplication::setWindowIcon(platform::QtAppShell::applicationIcon());

  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "window-gallery: cannot create %s\n", argv[1]);
    return 1;
  }

  bool written = true;
  for (const State& state : states()) {
    World world;
    if (state.arrange) state.arrange(world);
    SettingsView view(world.services);
    view.show();
    world.executor.runUntilIdle();
    if (state.act) state.act(world, view);
    world.executor.runUntilIdle();
    QApplication::processEvents();
    written = GalleryRun::save(view, folder, QString::fromUtf8(state.name)) && written;
  }
  return run.finish(written);
}
