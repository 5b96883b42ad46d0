#pragma once

#include <memory>

#include "platform/AppShell.h"

class QSystemTrayIcon;
class QMenu;

class QIcon;

namespace platform {

// The status icon as a QSystemTrayIcon (XEmbed or StatusNotifierItem, whichever the desktop hosts) with a
// QMenu; key equivalents use Ctrl for Command. A desktop has no dock, so the activation policy is only
// kept. Needs a QApplication; main thread only.
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
  // The icon's place on the screen (Qt coordinates), for tools that drive the menu; empty when hidden.
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  ActivationPolicy policy_ = ActivationPolicy::accessory;
};

}  // namespace platform
