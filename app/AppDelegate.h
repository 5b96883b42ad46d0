#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/Analytics.h"
#include "app/AppSettings.h"
#include "app/HotkeyRegistry.h"
#include "app/Keychain.h"
#include "app/PopupMode.h"
#include "app/SelectionCapture.h"
#include "app/SelectionPopup.h"
#include "platform/AppShell.h"
#include "platform/AppWindow.h"
#include "platform/NotificationCenter.h"
#include "platform/Screens.h"
#include "platform/SystemBeep.h"
#include "platform/Updater.h"
#include "platform/Workspace.h"

class QWidget;

namespace quorvelle {

// The application's own object: it owns the popup and the updater's start, runs start-up, keeps the
// hot keys alive across sleep and session switches, owns the settings and onboarding windows and turns a
// hot-key press into a request on the selected text.
//
// One delegate lives for the whole program. Main thread only (the keychain must deliver its reads on the
// main thread). Every closure it hands out (hot-key handlers, the onboarding's finish callback, the
// selection's completion, the keychain's completion) holds it weakly and does nothing once it is gone.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  static constexpr std::string_view kSettingsTitle = "Quorvelle Settings";
  static constexpr std::string_view kOnboardingTitle = "Welcome to Quorvelle";
  static constexpr platform::Size kSettingsContentSize{640, 460};

  // What the delegate drives. Every reference must outlive the delegate.
  struct Services {
    platform::AppShell& shell;
    platform::Updater& updater;
    platform::Workspace& workspace;
    platform::AppWindowHost& windows;
    const platform::Screens& screens;
    platform::SystemBeep& beep;
    // Where the request for the Gemini key field's focus is posted.
    platform::NotificationCenter& notifications;
    AppSettings& settings;
    Analytics& analytics;
    SelectionCapture& selection;
    const Keychain& keychain;
    HotkeyRegistry hotkeys;
    // The root views of the two windows; each window takes ownership of its view.
    std::function<QWidget*(std::function<void()> onFinish)> makeOnboardingView;
    std::function<QWidget*()> makeSettingsView;
    // Called once, while the delegate is created.
    std::function<std::unique_ptr<SelectionPopup>()> makePopup;
  };

  // Creates the popup and starts the updater.
  static std::shared_ptr<AppDelegate> create(Services services);
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Start-up: analytics, the background update check, the hot keys of earlier versions, the two hot-key
  // handlers, the wake and session observers, then onboarding unless it has been completed.
  void applicationDidFinishLaunching();
  // Registers both hot keys with the system again, as after the machine slept.
  void reregisterHotkeys();
  // Opens the settings window, or brings the one already made to the front as it is.
  void showSettings();
  // Opens the onboarding window, or fits it to its content again and brings it to the front.
  void showOnboarding();
  // The menu's "Check for Updates…".
  void checkForUpdates();

  // The action of both hot keys.
  void showPopupForSelection(PopupMode mode);
  // True when onboarding is complete, or while its window is shown (the tutorial uses the hot keys).
  bool hotkeysUnlocked() const;

  SelectionPopup& popup() { return *popup_; }
  platform::AppWindow* settingsWindow() const { return settingsWindow_.get(); }
  platform::AppWindow* onboardingWindow() const { return onboardingWindow_.get(); }

 private:
  explicit AppDelegate(Services services);
  void route(const std::optional<std::string>& text, PopupMode mode);
  void routeRefine(const std::string& text, const platform::SecretReadResult& key);
  void finishOnboarding();
  void centreOnMainScreen(platform::AppWindow& window) const;

  Services services_;
  std::unique_ptr<SelectionPopup> popup_;
  bool updaterStarted_ = false;
  std::unique_ptr<platform::AppWindow> settingsWindow_;
  std::unique_ptr<platform::AppWindow> onboardingWindow_;
  platform::NotificationCenter::Token wakeObserver_;
  platform::NotificationCenter::Token sessionObserver_;
  // The keyring read of the refine press under way; each press cancels it.
  platform::CancelToken keyRead_;
};

}  // namespace quorvelle
