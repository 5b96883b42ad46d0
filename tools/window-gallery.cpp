// Renders the settings window and the tutorial pages in each of their states to PNG files, for a person
// to look at, twice: with Qt's default font in <folder>, and with an 11-point one (a common desktop
// setting) in <folder>/11pt:
//   window-gallery <folder>
// The Translating pane, the Refining pane with the key entry, with a stored key and after a key the
// keyring refused, and the accessibility bar (also after "Grant…" found no page to open); each tutorial page
// pending and done, the refine page's key prompt, its form and a refused key, and an animation area whose
// animation is missing; each onboarding step, the accessibility step in its four states. Everything behind
// the window is in memory (the settings, the keyring, the hot keys); nothing is stored on the machine. Runs
// on the offscreen platform unless QT_QPA_PLATFORM says otherwise. Any Qt warning while rendering makes the
// run fail, after every file has been written.

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>
#include <vector>

#include "GlobalShortcuts/Environment.h"
#include "platform/fake/FakeHotKeySystem.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FixedMachineIdentity.h"
#include "platform/fake/FixedSystemInfo.h"
#include "platform/fake/InlineSerialQueue.h"
#include "platform/fake/ManualExecutor.h"
#include "platform/fake/ManualWorkspace.h"
#include "platform/fake/MapBundleInfo.h"
#include "platform/fake/MemoryPasteboard.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/fake/RecordingAppShell.h"
#include "platform/fake/RecordingKeystrokeSender.h"
#include "platform/fake/RecordingRelauncher.h"
#include "platform/fake/ScriptedAccessibility.h"
#include "platform/fake/SeededRandom.h"
#include "platform/linux/desktop/QtAppShell.h"
#include "tools/GalleryRun.h"
#include "ui/AnimationView.h"
#include "ui/OnboardingView.h"
#include "ui/SettingsView.h"
#include "ui/TutorialStep.h"

namespace {

constexpr double kLargerPointSize = 11;

using quorvelle::SettingsView;
using Pane = quorvelle::SettingsModel::Pane;
using quorvelle::TutorialAction;
using quorvelle::TutorialStep;

// Analytics stay off here (never set up), so nothing reaches the client.
struct SilentAnalyticsClient final : quorvelle::AnalyticsClient {
  void setup(const quorvelle::AnalyticsClientConfig&) override {}
  void identify(const std::string&) override {}
  void capture(const std::string&, const std::optional<dizizoz::Properties>&,
               const std::optional<dizizoz::Properties>&) override {}
};

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
  SilentAnalyticsClient analyticsClient;
  platform::fake::MapBundleInfo bundle;
  platform::fake::FixedMachineIdentity machine{"6F1C2D3E-0000-4000-8000-123456789ABC"};
  platform::fake::SeededRandom random{1};
  quorvelle::DeviceIdentity device{machine, defaults, random};
  quorvelle::Analytics analytics{analyticsClient, bundle, device};
  bool done = false;
  platform::fake::MemoryPasteboard pasteboard;
  platform::fake::RecordingKeystrokeSender keystrokes;
  quorvelle::SelectionCapture selection{accessibility, pasteboard, keystrokes, executor};
  platform::fake::RecordingRelauncher relauncher;
  platform::fake::RecordingAppShell shell;

  void storeKey() {
    secrets.write(quorvelle::GeminiKeyManager::kService, quorvelle::GeminiKeyManager::kAccount,
                  "AIzaSyD-example-9f3K");
  }
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
      {"accessibility-bar-grant",
       [](World& w) {
         w.accessibility.trusted = false;
         w.accessibility.urlOpens = false;
       },
       [](World&, SettingsView& v) { v.grantButton()->click(); }},
  };
}

struct TutorialState {
  const char* name;
  TutorialAction action;
  bool keyStored;
  bool done;
  // Once the page is shown.
  std::function<void(World&, TutorialStep&)> act;
};

std::vector<TutorialState> tutorialStates() {
  auto addKey = [](World&, TutorialStep& page) { page.addKeyButton()->click(); };
  return {
      {"tutorial-translate", TutorialAction::translate, true, false, {}},
      {"tutorial-translate-done", TutorialAction::translate, true, true, {}},
      {"tutorial-quick-translate", TutorialAction::quickTranslate, true, false, {}},
      {"tutorial-quick-translate-done", TutorialAction::quickTranslate, true, true, {}},
      {"tutorial-refine", TutorialAction::refine, true, false, {}},
      {"tutorial-refine-done", TutorialAction::refine, true, true, {}},
      {"tutorial-refine-key-prompt", TutorialAction::refine, false, false, {}},
      {"tutorial-refine-key-form", TutorialAction::refine, false, false, addKey},
      {"tutorial-refine-key-refused", TutorialAction::refine, false, false,
       [addKey](World& w, TutorialStep& page) {
         addKey(w, page);
         w.secrets.setFailing(true);
         page.keyField()->insert(QStringLiteral("AIzaSyD-example-9f3K"));
         page.saveKeyButton()->click();
       }},
  };
}

using Step = quorvelle::OnboardingStep;

struct OnboardingState {
  const char* name;
  // Before the window is made.
  std::function<void(World&)> arrange;
  // Once it is shown: the moves that lead to the state.
  std::function<void(World&, quorvelle::OnboardingFlow&)> act;
};

std::vector<OnboardingState> onboardingStates() {
  auto untrusted = [](World& w) { w.accessibility.trusted = false; };
  auto toPurpose = [](World& w, quorvelle::OnboardingFlow& flow) {
    flow.splashDone();
    flow.chooseLanguage("de");
    w.executor.advance(quorvelle::OnboardingFlow::kChoiceDelay);
  };
  auto toAccessibility = [toPurpose](World& w, quorvelle::OnboardingFlow& flow) {
    toPurpose(w, flow);
    flow.choosePurpose("writing");
    w.executor.advance(quorvelle::OnboardingFlow::kChoiceDelay);
  };
  auto toTutorial = [toAccessibility](Step target) {
    return [toAccessibility, target](World& w, quorvelle::OnboardingFlow& flow) {
      toAccessibility(w, flow);
      while (flow.step() != target) flow.skipTapped();
    };
  };
  return {
      {"onboarding-splash", {}, {}},
      {"onboarding-language", {}, [](World&, quorvelle::OnboardingFlow& flow) { flow.splashDone(); }},
      {"onboarding-purpose", {}, toPurpose},
      {"onboarding-purpose-chosen",
       {},
       [toPurpose](World& w, quorvelle::OnboardingFlow& flow) {
         toPurpose(w, flow);
         flow.choosePurpose("both");
       }},
      {"onboarding-accessibility", untrusted, toAccessibility},
      {"onboarding-accessibility-settings-opened", untrusted,
       [toAccessibility](World& w, quorvelle::OnboardingFlow& flow) {
         toAccessibility(w, flow);
         flow.allowAccessibility();
       }},
      {"onboarding-accessibility-failed", untrusted,
       [toAccessibility](World& w, quorvelle::OnboardingFlow& flow) {
         toAccessibility(w, flow);
         w.accessibility.urlOpens = false;
         flow.allowAccessibility();
       }},
      {"onboarding-accessibility-trusted", untrusted,
       [toAccessibility](World& w, quorvelle::OnboardingFlow& flow) {
         toAccessibility(w, flow);
         w.accessibility.trusted = true;
         flow.allowAccessibility();
       }},
      {"onboarding-tutorial-translate", {}, toTutorial(Step::tutorialTranslate)},
      {"onboarding-tutorial-translate-done",
       {},
       [toTutorial](World& w, quorvelle::OnboardingFlow& flow) {
         toTutorial(Step::tutorialTranslate)(w, flow);
         w.notifications.post("quorvelle.didTranslateSelection");
       }},
      {"onboarding-tutorial-quick-translate", {}, toTutorial(Step::tutorialQuickTranslate)},
      {"onboarding-tutorial-refine", [](World& w) { w.storeKey(); }, toTutorial(Step::tutorialRefine)},
      {"onboarding-tutorial-refine-key-prompt", {}, toTutorial(Step::tutorialRefine)},
  };
}

// Every state, as PNG files in `folder`; false when one could not be written.
bool renderAll(const QDir& folder) {
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
  for (const TutorialState& state : tutorialStates()) {
    World world;
    if (state.keyStored) world.storeKey();
    world.done = state.done;
    // In a host that takes no size constraint from the page, so that pages whose content changes once
    // shown do not ask the window system for new size hints.
    QWidget host;
    auto* hostLayout = new QVBoxLayout(&host);
    hostLayout->setSizeConstraint(QLayout::SetNoConstraint);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    auto* page = new TutorialStep(state.action, "uk", world.done, world.services, world.analytics, &host);
    // Each picture shows a state, not a moment of the way to it.
    page->setAnimated(false);
    hostLayout->addWidget(page);
    host.resize(620, state.action == TutorialAction::quickTranslate ? 220 : 560);
    host.show();
    world.executor.runUntilIdle();
    if (state.act) state.act(world, *page);
    world.executor.runUntilIdle();
    QApplication::processEvents();
    written = GalleryRun::save(host, folder, QString::fromUtf8(state.name)) && written;
  }
  for (const OnboardingState& state : onboardingStates()) {
    World world;
    if (state.arrange) state.arrange(world);
    quorvelle::OnboardingView view(
        {world.services, world.analytics, world.selection, world.relauncher, world.shell, {}}, [] {});
    view.setTransitionDuration(0);
    view.show();
    QApplication::processEvents();
    if (state.act) state.act(world, view.flow());
    world.executor.runUntilIdle();
    QApplication::processEvents();
    written = GalleryRun::save(view, folder, QString::fromUtf8(state.name)) && written;
  }
  {
    World world;
    quorvelle::AnimationView missing(QStringLiteral("missing-animation"),
                                     QColor::fromRgbF(0.95f, 0.95f, 0.965f), world.executor);
    missing.resize(465, 310);
    missing.show();
    QApplication::processEvents();
    written = GalleryRun::save(missing, folder, QStringLiteral("tutorial-animation-missing")) && written;
  }
  return written;
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

  bool written = renderAll(folder);
  QFont larger = QApplication::font();
  larger.setPointSizeF(kLargerPointSize);
  QApplication::setFont(larger);
  const QDir largerFolder(folder.filePath(QStringLiteral("11pt")));
  if (!largerFolder.mkpath(".")) {
    std::fprintf(stderr, "window-gallery: cannot create %s\n", largerFolder.path().toLocal8Bit().constData());
    return 1;
  }
  written = renderAll(largerFolder) && written;
  return run.finish(written);
}
