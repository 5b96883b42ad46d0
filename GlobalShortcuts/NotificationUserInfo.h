#pragma once

#include <optional>

#include "GlobalShortcuts/Name.h"
#include "platform/NotificationCenter.h"

namespace GlobalShortcuts {

// Readers of the user info that the shortcuts package puts on its notifications. Any thread.

inline constexpr const char* kUserInfoNameKey = "name";
inline constexpr const char* kUserInfoIsActiveKey = "isActive";

// The value under "isActive" when it is a bool; false when there is no user info, no such key, or a value
// of another type ("GlobalShortcuts_recorderActiveStatusDidChange").
bool recorderIsActive(const platform::Notification& notification) noexcept;

// The Name under "name"; nothing when absent or of another type
// ("GlobalShortcuts_shortcutByNameDidChange"). Observers compare it with their own name by raw value.
std::optional<Name> globalShortcutsName(const platform::Notification& notification);

}  // namespace GlobalShortcuts
