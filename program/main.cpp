// The program: a tray utility on an X11 desktop. Every backend is the real one; see README.md for what it
// needs.
#include <xcb/xcb.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/Analytics.h"
#include "app/AppDelegate.h"
#include "app/AppSettings.h"
#include "app/BackendAddress.h"
#include "app/DeviceIdentity.h"
#include "app/DiziZozAnalyticsClient.h"
#include "app/GeminiKeyManager.h"
#include "app/Keychain.h"
#include "app/LookupClient.h"
#include "app/SelectionCapture.h"
#include "app/quorvelleApp.h"
#include "platform/Log.h"
#include "platform/Random.h"
#include "platform/linux/CompiledBundleInfo.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "platform/linux/MachineIdFileIdentity.h"
#include "platform/linux/SpawnRelauncher.h"
#include "platform/linux/ThreadSerialQueue.h"
#include "platform/linux/desktop/AudioModule.h"
#include "platform/linux/desktop/LogindWorkspace.h"
#include "platform/linux/desktop/MessageBoxAlertPresenter.h"
#include "platform/linux/desktop/ModuleAudioPlayer.h"
#include "platform/linux/desktop/PackageManagerUpdater.h"
#include "platform/linux/desktop/QtAppShell.h"
#include "platform/linux/desktop/QtAppWindowHost.h"
#include "platform/linux/desktop/QtApplicationNotifications.h"
#include "platform/linux/desktop/QtKeyWindowScreen.h"
#include "platform/linux/desktop/QtMainExecutor.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/QtScreens.h"
#include "platform/linux/desktop/QtSystemBeep.h"
#include "platform/linux/desktop/QtSystemInfo.h"
#include "platform/linux/desktop/X11Accessibility.h"
#include "platform/linux/desktop/X11ClipboardPasteboard.h"
#include "platform/linux/desktop/X11Connection.h"
#include "platform/linux/desktop/X11SingleInstance.h"
#include "platform/linux/desktop/XTestKeystrokeSender.h"
#include "program/AnalyticsThreads.h"
#include "program/DesktopEventMonitors.h"
#include "program/DesktopPopup.h"
#include "program/EnvironmentBundleInfo.h"
#include "program/ProgramAnalytics.h"
#include "program/QuitSignals.h"
#include "program/StartupTrace.h"
#include "program/TestProbe.h"
#include "program/X11ShortcutServices.h"
#include "ui/OnboardingView.h"
#include "ui/SettingsView.h"
#include "ui/WindowServices.h"

namespace {

using namespace quorvelle;

// The backend's address: the one compiled in, unless QUORVELLE_BACKEND_URL in the environment names
// another (for development and tests against tools/dev-backend; user settings never carry it).
std::string backendURL() {
  const char* override = std::getenv("QUORVELLE_BACKEND_URL");
  if (override == nullptr || *override == '\0') return std::string(compiledBackendURL());
  platform::log(platform::LogLevel::warning,
                std::string("Quorvelle: using the backend at ") + override + " (QUORVELLE_BACKEND_URL)");
  return override;
}

// A file installed beside the program's executable (its modules).
std::filesystem::path besideProgram(const char* name) {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path(name) : executable.parent_path() / name;
}

// A shared_ptr to an object of main() that outlives every use made through it.
template <typename T>
std::shared_ptr<T> unowned(T& object) {
  return std::shared_ptr<T>(std::shared_ptr<void>(), &object);
}

bool displayReachable() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reachable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return reachable;
}

int explainMissingDisplay() {
  const char* display = std::getenv("DISPLAY");
  std::fprintf(stderr,
               "quorvelle: no X11 display (DISPLAY=%s). Quorvelle needs an X11 (Xorg) session with the XKB "
               "and XTEST extensions for its hot keys and for reading and replacing selections; a Wayland "
               "session cannot give it the selection. Without a desktop, run it under Xvfb: "
               "scripts/run.sh --xvfb\n",
               display ? display : "");
  return 1;
}

constexpr int kReplaceAttempts = 100;
constexpr std::chrono::milliseconds kReplacePollInterval{100};

// True when a relaunch started this copy, to take over from the copy that started it; forgets the mark
// so that a later relaunch of ours does not inherit it.
bool startedToReplaceAnotherCopy() {
  const char* replaces = std::getenv(platform::SpawnRelauncher::kReplacesVariable);
  const bool relaunched = replaces != nullptr && *replaces != '\0';
  ::unsetenv(platform::SpawnRelauncher::kReplacesVariable);
  return relaunched;
}

int handOverToTheRunningCopy(platform::X11SingleInstance& instance) {
  const char* display = std::getenv("DISPLAY");
  if (!instance.askRunningCopyToShowSettings()) {
    std::fprintf(stderr, "quorvelle: the copy running on display %s is just ending; start quorvelle again\n",
                 display ? display : "");
    return 1;
  }
  std::printf("quorvelle: already running on display %s; showing its settings window\n",
              display ? display : "");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  StartupTrace trace = StartupTrace::fromEnvironment();
  // Before Qt, which would abort without a word of what the program needs.
  if (!displayReachable()) return explainMissingDisplay();
  // Before any thread starts.
  QuitSignals quitSignals;
  trace.step("X display reachable");

  QApplication application(argc, argv);
  quitSignals.listen();
  trace.step("QApplication");
  // Opened after the application: its events are read by the application's event loop, which a
  // connection made earlier never hears of (the hot keys would be grabbed and never fire).
  auto x11 = platform::X11Connection::open();
  if (!x11) return explainMissingDisplay();
  // Before the hot keys and the tray icon: a second copy would get neither (the first holds the keys).
  const bool replacing = startedToReplaceAnotherCopy();
  auto instance = std::make_unique<platform::X11SingleInstance>(*x11);
  if (!instance->isFirst() && replacing) {
    // Started by a relaunch: the copy that started us ends once we run; take over from it.
    for (int attempt = 0; attempt < kReplaceAttempts && !instance->isFirst(); ++attempt) {
      std::this_thread::sleep_for(kReplacePollInterval);
      instance.reset();
      instance = std::make_unique<platform::X11SingleInstance>(*x11);
    }
  }
  if (!instance->isFirst()) return handOverToTheRunningCopy(*instance);
  QApplication::setApplicationName(QStringLiteral("Quorvelle"));
  QApplication::setDesktopFileName(QStringLiteral("quorvelle"));
  // A tray program: closing its last window does not end it; "Quit Quorvelle" does.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(platform::QtAppShell::applicationIcon());
  trace.step("X11 connection");

  platform::QtMainExecutor executor;
  // Shared with the analytics client's life-cycle events, which remember the version and build in it.
  const auto standardDefaults = std::make_shared<platform::FileUserDefaults>();
  platform::FileUserDefaults& defaults = *standardDefaults;
  platform::QtSystemInfo system;
  platform::MachineIdFileIdentity machine;
  platform::CompiledBundleInfo compiledBundle;
  const EnvironmentBundleInfo bundle(compiledBundle);
  platform::LibsecretSecretStore secrets;

  trace.step("settings, identity, keyring");
  platform::MessageBoxAlertPresenter alerts;
  platform::QtSystemBeep beep;
  X11ShortcutServices shortcutServices(*x11, executor, defaults, &system, &quorvelleApp::shortcutMenu,
                                       &alerts, &beep);
  trace.step("hot-key services");

  AppSettings settings(defaults, system);
  DeviceIdentity device(machine, defaults, platform::SystemRandom::shared());
  platform::NotificationCenter& notifications = platform::NotificationCenter::defaultCenter();
  // The application and window changes the analytics client and the settings window follow.
  platform::QtApplicationNotifications applicationNotifications(notifications);

  platform::CurlHttpClient http;
  // Declared after the transport, so that they end first: a job still running on one of them at quit (a
  // flags answer, which sends the request it had parked) finishes while the transport is still there.
  // The transport's last completions, of the requests it cancels as it ends, then find the threads ended
  // and are dropped.
  AnalyticsThreads analyticsThreads;
  // The record goes in before anything asks for the shared analytics client.
  installProgramAnalytics({.http = http,
                           .threads = analyticsThreads,
                           .mainExecutor = unowned(executor),
                           .notificationCenter = unowned(notifications),
                           .keyWindowScreen = std::make_shared<platform::QtKeyWindowScreen>()},
                          standardDefaults);
  DiziZozAnalyticsClient analyticsClient(analyticsBundleInfo(bundle));
  Analytics analytics(analyticsClient, bundle, device);
  // Keyring calls may block for seconds; they run here, never on the UI thread. Declared after the store
  // and the executor, so that it ends (waiting for the call it runs) before they do.
  platform::ThreadSerialQueue keyringWorker("keyring");
  Keychain keychain(secrets, keyringWorker, executor);
  GeminiKeyManager geminiKey(keychain);

  platform::X11Accessibility accessibility(x11.get(), executor);
  platform::X11ClipboardPasteboard pasteboard(*x11, executor);
  platform::XTestKeystrokeSender keystrokes(*x11, executor);
  SelectionCapture selection(accessibility, pasteboard, keystrokes, executor);

  platform::QtAppShell shell;
  platform::SpawnRelauncher relauncher;
  platform::PackageManagerUpdater updater(alerts);
  platform::LogindWorkspace workspace;
  platform::QtAppWindowHost windows;
  platform::QtScreens screens;
  const WindowServices windowServices{settings, geminiKey, accessibility, workspace, notifications, executor};

  // Built with the settings' own default, which refine must recognise so that it never sends it.
  LookupClient lookup(http, executor, geminiKey, backendURL(), AppSettings::defaultRefinePrompt());
  platform::QtPopupPanel popupPanel;
  DesktopEventMonitors monitors(x11.get(), nullptr);
  platform::ModuleAudioPlayer audio(besideProgram(platform::audio_module::kFileName));

  trace.step("selection, windows, transport, audio");

  auto delegate = AppDelegate::create({
      shell,
      updater,
      workspace,
      windows,
      screens,
      beep,
      notifications,
      settings,
      analytics,
      selection,
      keychain,
      HotkeyRegistry::globalShortcuts(),
      [&](std::function<void()> onFinish) -> QWidget* {
        return new OnboardingView(
            {windowServices, analytics, selection, relauncher, shell, HotkeyRegistry::globalShortcuts()},
            std::move(onFinish));
      },
      [&]() -> QWidget* {
        auto* view = new SettingsView(windowServices);
        // Without a tray the menu's Quit is nowhere, and the window is all the user has of the program.
        if (!shell.hasStatusIcon()) view->setQuitAction([&shell] { shell.terminate(); });
        return view;
      },
      [&] {
        return std::make_unique<DesktopPopup>(
            popupPanel,
            PopupController::Services{executor, notifications, lookup, popupPanel, screens, monitors, audio,
                                      settings, pasteboard, selection},
            x11.get());
      },
  });
  instance->onShowSettingsRequested([weak = std::weak_ptr<AppDelegate>(delegate)] {
    if (auto d = weak.lock()) d->showSettings();
  });
  trace.step("delegate and popup");
  quorvelleApp app(shell, delegate);
  app.launch();
  applicationNotifications.finishedLaunching();
  trace.step("tray and hot keys up");
  if (trace.enabled()) {
    // The popup builds its view and warms its panel from a timer of its own started at the first wait;
    // this one starts after it, with the same time-out, so it runs after that work.
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &application,
        [&trace, &application] {
          trace.step("event loop waiting");
          auto* after = new QTimer(&application);
          after->setSingleShot(true);
          QObject::connect(after, &QTimer::timeout, after, [&trace, after] {
            trace.step("popup view built, panel warmed");
            after->deleteLater();
          });
          after->start(0);
        },
        Qt::SingleShotConnection);
  }
  // Only for the desktop tests, which ask it where the windows' parts are.
  const auto probe = TestProbe::fromEnvironment();
  const int status = QApplication::exec();
  // Before the threads, the transport and the executors end; from here on the client sends nothing, and
  // what has not been uploaded stays on disk for the next run.
  analyticsClient.close();
  // Settings reach their file a moment after each change: what the last moments changed is written now,
  // also when a quit signal ended the event loop.
  defaults.flush();
  // The application and its delegate are destroyed first (declared last), before the services they use;
  // the shortcut services let go of the package's hot keys before the executor and defaults end; the
  // analytics threads end, and then the transport's end cancels a hanging upload.
  return status;
}
