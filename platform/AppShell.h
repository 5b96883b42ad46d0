#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// One entry of the status menu: an action with its title and optional key equivalent, or a divider.
struct StatusMenuItem {
  // Empty title and no action: a divider.
  std::string title;
  // A single character pressed with Command (Control on this desktop), or empty for none.
  std::string keyEquivalent;
  std::function<void()> action;

  static StatusMenuItem divider() { return {}; }
  bool isDivider() const { return !action; }
};

// How the application presents itself: a regular application with windows in the task bar, or an
// accessory that lives in the status area only.
enum class ActivationPolicy { regular = 0, accessory = 1 };

// The application as the desktop sees it: its status icon with a menu, its activation, its end.
// Main thread only.
class AppShell {
 public:
  virtual ~AppShell() = default;

  // Shows the status icon with `items` as its menu. False when the desktop has no status area to put
  // it in (the menu then exists nowhere).
  virtual bool installStatusMenu(const std::string& title, const std::string& iconName,
                                 std::vector<StatusMenuItem> items) = 0;
  virtual void setActivationPolicy(ActivationPolicy policy) = 0;
  // Brings the application's windows in front of other applications'.
  virtual void activateIgnoringOtherApps() = 0;
  // Ends the program once the current event has been handled.
  virtual void terminate() = 0;
};

}  // namespace platform
