#pragma once

#include <memory>

#include "GlobalShortcuts/MenuTree.h"
#include "app/AppDelegate.h"
#include "platform/AppShell.h"

namespace quorvelle {

// The application as the desktop shows it: one status icon, "Quorvelle" with the book symbol, whose menu
// reaches the delegate. Main thread only.
class quorvelleApp {
 public:
  static constexpr std::string_view kTitle = "Quorvelle";
  static constexpr std::string_view kIconName = "book.fill";

  quorvelleApp(platform::AppShell& shell, std::shared_ptr<AppDelegate> delegate);

  // Puts the status icon with its menu up and runs the delegate's start-up. Without a status area the
  // menu would be unreachable, so the settings window opens instead: the program is never invisible.
  void launch();

  AppDelegate& appDelegate() { return *delegate_; }

  // The status menu as the shortcut checks see it: its items' titles with their key equivalents, pressed
  // with Command (Control on this desktop); dividers left out. What the shortcuts package is given as the
  // application's main menu, so that a recorded Ctrl+Q is found to be "Quit Quorvelle".
  static GlobalShortcuts::Menu shortcutMenu();

 private:
  // The status menu's items; their actions reach `delegate` weakly and `shell`.
  static std::vector<platform::StatusMenuItem> body(platform::AppShell* shell,
                                                    std::weak_ptr<AppDelegate> delegate);

  platform::AppShell& shell_;
  std::shared_ptr<AppDelegate> delegate_;
};

}  // namespace quorvelle
