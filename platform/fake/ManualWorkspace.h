#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Workspace.h"

namespace platform::fake {

// Workspace whose session events the test triggers; records the addresses it was asked to open.
class ManualWorkspace final : public Workspace {
 public:
  bool urlOpens = true;
  std::vector<std::string> openedURLs;

  bool openURL(std::string_view url) override {
    openedURLs.emplace_back(url);
    return urlOpens;
  }
  NotificationCenter& notificationCenter() override { return center_; }

  void wake() { center_.post(std::string(kDidWakeNotification)); }
  void sessionBecameActive() { center_.post(std::string(kSessionDidBecomeActiveNotification)); }

 private:
  NotificationCenter center_;
};

}  // namespace platform::fake
