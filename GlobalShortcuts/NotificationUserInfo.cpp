#include "GlobalShortcuts/NotificationUserInfo.h"

namespace GlobalShortcuts {

bool recorderIsActive(const NotificationUserInfo* userInfo) noexcept {
  if (userInfo == nullptr) return false;
  const auto it = userInfo->find(kUserInfoIsActiveKey);
  if (it == userInfo->end()) return false;
  const auto* value = std::any_cast<bool>(&it->second);
  return value != nullptr && *value;
}

}  // namespace GlobalShortcuts
