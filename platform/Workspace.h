#pragma once

#include <string_view>

#include "platform/NotificationCenter.h"

namespace platform {

// The user's session as a whole: opening addresses in their handlers, and the session's own events.
// Main thread only; notifications are posted on the main thread, without user info.
class Workspace {
 public:
  // The machine woke from sleep.
  static constexpr std::string_view kDidWakeNotification = "workspace.didWake";
  // The user's session became the active one again (after a switch to another user or a lock screen).
  static constexpr std::string_view kSessionDidBecomeActiveNotification = "workspace.sessionDidBecomeActive";

  virtual ~Workspace() = default;

  // Opens the address in the handler the desktop chose for it; false when nothing could open it.
  virtual bool openURL(std::string_view url) = 0;
  // Where the notifications above are posted.
  virtual NotificationCenter& notificationCenter() = 0;
};

}  // namespace platform
