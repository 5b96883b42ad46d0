#include "app/quorvelleApp.h"

#include "platform/Log.h"

namespace quorvelle {

quorvelleApp::quorvelleApp(platform::AppShell& shell, std::shared_ptr<AppDelegate> delegate)
    : shell_(shell), delegate_(std::move(delegate)) {}

std::vector<platform::StatusMenuItem> quorvelleApp::body() {
  const std::weak_ptr<AppDelegate> weak = delegate_;
  platform::AppShell* shell = &shell_;
  return {
      {"Check for Updates…", "",
       [weak] {
         if (auto delegate = weak.lock()) delegate->checkForUpdates();
       }},
      platform::StatusMenuItem::divider(),
      {"Settings…", ",",
       [weak] {
         if (auto delegate = weak.lock()) delegate->showSettings();
       }},
      platform::StatusMenuItem::divider(),
      {"Quit Quorvelle", "q", [shell] { shell->terminate(); }},
  };
}

void quorvelleApp::launch() {
  const bool shown = shell_.installStatusMenu(std::string(kTitle), std::string(kIconName), body());
  delegate_->applicationDidFinishLaunching();
  if (!shown) {
    platform::log(
        platform::LogLevel::warning,
        "Quorvelle: the desktop has no system tray; opening the settings window instead of the tray "
        "menu");
    delegate_->showSettings();
  }
}

}  // namespace quorvelle
