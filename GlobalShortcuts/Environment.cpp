#include "GlobalShortcuts/Environment.h"

#include <optional>
#include <stdexcept>

#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/Name.h"
#include "platform/NotificationCenter.h"

namespace GlobalShortcuts {
namespace {

std::optional<Environment>& installed() {
  static std::optional<Environment> value;
  return value;
}

}  // namespace

void installEnvironment(Environment environment) {
  if (environment.mainExecutor == nullptr || environment.userDefaults == nullptr ||
      environment.hotKeySystem == nullptr) {
    throw std::invalid_argument(
        "GlobalShortcuts: the main executor, user defaults and hot-key system are required");
  }
  if (environment.notificationCenter == nullptr) {
    environment.notificationCenter = &platform::NotificationCenter::defaultCenter();
  }
  if (!environment.makeKeyEventMonitor) environment.makeKeyEventMonitor = &KeyEventMonitor::makeQtMonitor;
  // The old center still talks to the old services: drop it before they can go away.
  HotKeyCenter::dropShared();
  resetInitialization();
  installed() = std::move(environment);
}

const Environment& environment() {
  const auto& value = installed();
  if (!value) throw std::logic_error("GlobalShortcuts: no environment installed");
  return *value;
}

}  // namespace GlobalShortcuts
