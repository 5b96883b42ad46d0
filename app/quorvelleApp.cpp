#include "app/quorvelleApp.h"

#include "platform/Log.h"

namespace quorvelle {

quorvelleApp::quorvelleApp(platform::AppShell& shell, std::shared_ptr<AppDelegate> delegate)
    : shell_(shell), delegate_(std::move(delegate)) {}

std::vector<platform::StatusMenuItem> quorvelleApp::body(platform::AppShell* shell,
                                                         std::weak_ptr<AppDelegate> weak) {
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

GlobalShortcuts::Menu quorvelleApp::shortcutMenu() {
  GlobalShortcuts::Menu menu;
  // The actions are never called: the items only describe the menu.
  for (auto& item : body(nullptr, {})) {
    if (item.isDivider()) continue;
    const auto modifiers = item.keyEquivalent.empty() ? GlobalShortcuts::ModifierFlags()
                                                      : GlobalShortcuts::ModifierFlags::command;
    menu.items.push_back({std::move(item.title), std::move(item.keyEquivalent), modifiers, nullptr});
  }
  return menu;
}

void quorvelleApp::launch() {
  const bool shown =
      shell_.installStatusMenu(std::string(kTitle), std::string(kIconName), body(&shell_, delegate_));
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
