#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/AppShell.h"

namespace platform::fake {

// AppShell that keeps the menu for the test to pick from and records every other call.
class RecordingAppShell final : public AppShell {
 public:
  bool trayAvailable = true;  // what installStatusMenu() answers
  std::string title;
  std::string iconName;
  std::vector<StatusMenuItem> items;
  std::vector<ActivationPolicy> policies;  // every setActivationPolicy(), in order
  int activations = 0;
  int terminations = 0;

  bool installStatusMenu(const std::string& t, const std::string& icon,
                         std::vector<StatusMenuItem> menu) override {
    title = t;
    iconName = icon;
    items = std::move(menu);
    return trayAvailable;
  }
  void setActivationPolicy(ActivationPolicy policy) override { policies.push_back(policy); }
  void activateIgnoringOtherApps() override { ++activations; }
  void terminate() override { ++terminations; }

  std::optional<ActivationPolicy> policy() const {
    if (policies.empty()) return std::nullopt;
    return policies.back();
  }
  // Runs the action of the item with this title; false when there is none.
  bool choose(const std::string& itemTitle) {
    for (auto& item : items) {
      if (!item.isDivider() && item.title == itemTitle) {
        item.action();
        return true;
      }
    }
    return false;
  }
};

}  // namespace platform::fake
