#pragma once

#include <any>
#include <map>
#include <optional>
#include <string>

namespace GlobalShortcuts {

// Readers of the user info that the shortcuts package puts on its notifications. A notification without
// user info is passed as nullptr. Any thread.
using NotificationUserInfo = std::map<std::string, std::any>;

inline constexpr const char* kUserInfoNameKey = "name";
inline constexpr const char* kUserInfoIsActiveKey = "isActive";

// The value under "isActive" when it is a bool; false when there is no user info, no such key, or a value
// of another type ("GlobalShortcuts_recorderActiveStatusDidChange").
bool recorderIsActive(const NotificationUserInfo* userInfo) noexcept;

// The value under "name" when it holds a `NameType`; nothing otherwise
// ("GlobalShortcuts_shortcutByNameDidChange"). A template because the name type is declared by the
// named-shortcuts code that posts it.
template <class NameType>
std::optional<NameType> globalShortcutsName(const NotificationUserInfo* userInfo) {
  if (userInfo == nullptr) return std::nullopt;
  const auto it = userInfo->find(kUserInfoNameKey);
  if (it == userInfo->end()) return std::nullopt;
  if (const auto* name = std::any_cast<NameType>(&it->second)) return *name;
  return std::nullopt;
}

}  // namespace GlobalShortcuts
