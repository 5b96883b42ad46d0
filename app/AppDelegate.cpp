#include "app/AppDelegate.h"

#include "app/AppNotifications.h"
#include "app/GeminiKeyManager.h"
#include "app/ShortcutNames.h"

namespace quorvelle {

std::shared_ptr<AppDelegate> AppDelegate::create(Services services) {
  return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(services)));
}

AppDelegate::AppDelegate(Services services) : services_(std::move(services)) {
  popup_ = services_.makePopup();
  // Started here, so the menu's check goes straight to the check.
  updaterStarted_ = true;
  services_.updater.startUpdater();
}

void AppDelegate::applicationDidFinishLaunching() {
  services_.analytics.setUp();
  if (services_.updater.automaticallyChecksForUpdates()) services_.updater.checkForUpdatesInBackground();
  // Before the handlers: registering creates the names, which would store their initial shortcuts over
  // the ones of earlier versions.
  services_.settings.migrateLegacyHotkeys();

  const std::weak_ptr<AppDelegate> weak = weak_from_this();
  services_.hotkeys.onKeyDown(shortcuts::translate(), [weak] {
    if (auto self = weak.lock()) self->showPopupForSelection(PopupMode::translate);
  });
  services_.hotkeys.onKeyDown(shortcuts::refine(), [weak] {
    if (auto self = weak.lock()) self->showPopupForSelection(PopupMode::refine);
  });

  // A sleeping machine or a switched-away session may have lost the key grabs.
  auto reregister = [weak](const platform::Notification&) {
    if (auto self = weak.lock()) self->reregisterHotkeys();
  };
  auto& center = services_.workspace.notificationCenter();
  wakeObserver_ = center.addObserver(std::string(platform::Workspace::kDidWakeNotification), reregister);
  sessionObserver_ =
      center.addObserver(std::string(platform::Workspace::kSessionDidBecomeActiveNotification), reregister);

  if (!services_.settings.hasCompletedOnboarding()) showOnboarding();
}

void AppDelegate::reregisterHotkeys() {
  const std::vector<GlobalShortcuts::Name> names{shortcuts::translate(), shortcuts::refine()};
  services_.hotkeys.disable(names);
  services_.hotkeys.enable(names);
}

void AppDelegate::centreOnMainScreen(platform::AppWindow& window) const {
  const auto screen = services_.screens.mainScreen();
  if (!screen) return;
  const platform::Rect& visible = screen->visibleFrame;
  const platform::Rect frame = window.frame();
  window.setFrameOrigin({visible.minX() + visible.size.width / 2 - frame.size.width / 2,
                         visible.minY() + visible.size.height / 2 - frame.size.height / 2});
}

void AppDelegate::showSettings() {
  if (settingsWindow_) {
    settingsWindow_->makeKeyAndOrderFront();
  } else {
    auto window = services_.windows.makeWindow(services_.makeSettingsView());
    window->setTitle(std::string(kSettingsTitle));
    window->setStyle(
        {.titlebarAppearsTransparent = true, .titleHidden = true, .titlebarSeparatorHidden = true});
    if (services_.screens.mainScreen()) {
      window->setContentSize(kSettingsContentSize);
      centreOnMainScreen(*window);
    }
    settingsWindow_ = std::move(window);
    settingsWindow_->makeKeyAndOrderFront();
  }
  services_.shell.activateIgnoringOtherApps();
}

void AppDelegate::showOnboarding() {
  if (!onboardingWindow_) {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    QWidget* view = services_.makeOnboardingView([weak] {
      if (auto self = weak.lock()) self->finishOnboarding();
    });
    auto window = services_.windows.makeWindow(view);
    window->setTitle(std::string(kOnboardingTitle));
    window->setStyle(
        {.titlebarAppearsTransparent = true, .titleHidden = true, .titlebarSeparatorHidden = false});
    onboardingWindow_ = std::move(window);
  }
  services_.shell.setActivationPolicy(platform::ActivationPolicy::regular);
  if (services_.screens.mainScreen()) {
    const platform::Size fitting = onboardingWindow_->contentFittingSize();
    if (fitting.width > 0) onboardingWindow_->setContentSize(fitting);
    centreOnMainScreen(*onboardingWindow_);
  }
  onboardingWindow_->makeKeyAndOrderFront();
  services_.shell.activateIgnoringOtherApps();
}

void AppDelegate::finishOnboarding() {
  if (onboardingWindow_) onboardingWindow_->close();
  onboardingWindow_.reset();
  services_.shell.setActivationPolicy(platform::ActivationPolicy::accessory);
}

void AppDelegate::checkForUpdates() {
  if (!updaterStarted_) {
    services_.updater.startUpdater();
    updaterStarted_ = true;
  }
  services_.updater.checkForUpdates();
}

bool AppDelegate::hotkeysUnlocked() const {
  if (services_.settings.hasCompletedOnboarding()) return true;
  return onboardingWindow_ && onboardingWindow_->isVisible();
}

void AppDelegate::showPopupForSelection(PopupMode mode) {
  // Each press starts anew: a refine still waiting for the keyring is dropped.
  keyRead_.cancel();
  if (!hotkeysUnlocked()) {
    showOnboarding();
    return;
  }
  // Without permission the settings page has been opened; the user presses again once it is granted.
  if (services_.selection.requestAccessibility() != AccessibilityRequestResult::trusted) return;
  const std::weak_ptr<AppDelegate> weak = weak_from_this();
  services_.selection.captureSelection([weak, mode](std::optional<std::string> text) {
    if (auto self = weak.lock()) self->route(text, mode);
  });
}

void AppDelegate::routeRefine(const std::string& text, const platform::SecretReadResult& key) {
  switch (key.status) {
    case platform::SecretStatus::ok:
      // Only the key's presence matters here: an empty stored key counts as present.
      return popup_->show(text, PopupMode::refine);
    case platform::SecretStatus::notFound:
      showSettings();
      services_.notifications.post(std::string(notifications::kFocusGeminiApiKey));
      return;
    case platform::SecretStatus::failed:
      // Not "no key": sending the user to enter a key that is stored would not help.
      return popup_->showError(text, PopupMode::refine, std::string(GeminiKeyManager::kKeyringDidNotAnswer));
    case platform::SecretStatus::unavailable:
      return popup_->showError(text, PopupMode::refine, std::string(GeminiKeyManager::kKeyringUnavailable));
  }
}

void AppDelegate::route(const std::optional<std::string>& text, PopupMode mode) {
  if (text && !text->empty()) {
    if (mode != PopupMode::refine) return popup_->show(*text, mode);
    // The keyring may take seconds to answer; the program stays responsive meanwhile.
    keyRead_ = platform::CancelToken();
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    services_.keychain.read(GeminiKeyManager::kService, GeminiKeyManager::kAccount,
                            [weak, token = keyRead_, text = *text](platform::SecretReadResult key) {
                              auto self = weak.lock();
                              if (self && !token.isCancelled()) self->routeRefine(text, key);
                            });
    return;
  }
  if (mode != PopupMode::translate) {
    services_.beep.beep();
    return;
  }
  popup_->showQuickTranslate();
}

}  // namespace quorvelle
