#pragma once

#include <memory>

#include "platform/AppShell.h"

class QSystemTrayIcon;
class QMenu;

class QIcon;

namespace platform {

// The status icon as a QSystemTrayIcon (XEmbed or StatusNotifierItem, whichever the desktop hosts) with a
// QMenu; key equivalents use Ctrl for Command. The menu shows them, and they act where a person presses
// them: in the open menu and in each of the program's windows (top-level widgets of type Qt::Window, such
// as the settings and onboarding windows; not the popup panel, alerts or menus), with or without a tray,
// unless the widget with the keyboard takes the keys for itself (a shortcut recorder that records does). A
// desktop has no dock, so the activation policy is only kept. Needs a QApplication; main thread only.
class QtAppShell final : public AppShell {
 public:
  QtAppShell();
  ~QtAppShell() override;

  // The tray's book: the program's icon, for its windows too.
  static QIcon applicationIcon();

  bool installStatusMenu(const std::string& title, const std::string& iconName,
                         std::vector<StatusMenuItem> items) override;
  void setActivationPolicy(ActivationPolicy policy) override;
  void activateIgnoringOtherApps() override;
  void terminate() override;

  ActivationPolicy activationPolicy() const { return policy_; }
  // True while the status icon shows in a tray.
  bool hasStatusIcon() const;
  // The icon's place on the screen (Qt coordinates), for tools that drive the menu; empty when hidden.
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }

 private:
  class KeyEquivalents;
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<KeyEquivalents> keyEquivalents_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  ActivationPolicy policy_ = ActivationPolicy::accessory;
};

}  // namespace platform
