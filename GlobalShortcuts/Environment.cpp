#include "GlobalShortcuts/Environment.h"

#include <optional>
#include <stdexcept>

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/Localization.h"
#include "GlobalShortcuts/Name.h"
#include "platform/NotificationCenter.h"

namespace GlobalShortcuts {
namespace {

std::optional<Environment>& installed() {
  static std::optional<Environment> value;
  return value;
}

}  // namespace

InstalledEnvironment::InstalledEnvironment(Environment environment) {
  if (environment.mainExecutor == nullptr || environment.userDefaults == nullptr ||
      environment.hotKeySystem == nullptr) {
    throw std::invalid_argument(
        "GlobalShortcuts: the main executor, user defaults and hot-key system are required");
  }
  if (installed()) throw std::logic_error("GlobalShortcuts: an environment is already installed");
  if (environment.notificationCenter == nullptr) {
    environment.notificationCenter = &platform::NotificationCenter::defaultCenter();
  }
  if (!environment.makeKeyEventMonitor) environment.makeKeyEventMonitor = &KeyEventMonitor::makeQtMonitor;
  if (!environment.mainMenu) environment.mainMenu = [] { return Menu{}; };
  if (!environment.keyRepeat) environment.keyRepeat = [] { return KeyRepeat{}; };
  registry::reset();
  resetInitialization();
  resetLocalization();
  installed() = std::move(environment);
}

InstalledEnvironment::~InstalledEnvironment() {
  // The hot keys first: each one's tear-down withdraws its registration through the center.
  registry::reset();
  HotKeyCenter::dropShared();
  resetInitialization();
  resetLocalization();
  installed().reset();
}

const Environment& environment() {
  const auto& value = installed();
  if (!value) throw std::logic_error("GlobalShortcuts: no environment installed");
  return *value;
}

bool isEnvironmentInstalled() {
  return installed().has_value();
}

}  // namespace GlobalShortcuts
