#include "GlobalShortcuts/NotificationUserInfo.h"

namespace GlobalShortcuts {

bool recorderIsActive(const platform::Notification& notification) noexcept {
  const auto* value = notification.value<bool>(kUserInfoIsActiveKey);
  return value != nullptr && *value;
}

std::optional<Name> globalShortcutsName(const platform::Notification& notification) {
  if (const auto* name = notification.value<Name>(kUserInfoNameKey)) return *name;
  return std::nullopt;
}

}  // namespace GlobalShortcuts
