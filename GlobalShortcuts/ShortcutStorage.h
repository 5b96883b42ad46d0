#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

namespace GlobalShortcuts {

// Named shortcuts live in the environment's user defaults, one key per name: "GlobalShortcuts_" + name.
// The value is one of:
//   a string with the shortcut's JSON ({"carbonKeyCode":17,"carbonModifiers":2048})  the name's shortcut
//   the bool false            the user cleared a name that has an initial shortcut: keep it cleared
//   nothing                   no shortcut; the initial shortcut is written when the name is next created
// Any other value (true, data, a string that is not a shortcut's JSON) reads as nothing stored. Reading
// never fails. Every write keeps the hot keys in step and then posts
// "GlobalShortcuts_shortcutByNameDidChange" with the whole Name under "name" in the user info, on the
// calling thread. Main thread only.

inline constexpr std::string_view kUserDefaultsKeyPrefix = "GlobalShortcuts_";
inline constexpr const char* kShortcutByNameDidChange = "GlobalShortcuts_shortcutByNameDidChange";

std::string userDefaultsKey(std::string_view rawValue);

struct StoredShortcut {
  enum class Kind { shortcut, disabled, absent };
  Kind kind = Kind::absent;
  std::optional<Shortcut> shortcut;  // set for Kind::shortcut only

  friend bool operator==(const StoredShortcut&, const StoredShortcut&) = default;
};

StoredShortcut storedShortcut(const Name& name);
// The stored shortcut; nothing when cleared, absent or unreadable. No fallback to the initial shortcut.
std::optional<Shortcut> getShortcut(const Name& name);
// A shortcut is stored; nothing clears the name (false for a name with an initial shortcut, removal
// otherwise).
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);

// Always writes, even the value already stored, and always posts.
void userDefaultsSet(const Name& name, const Shortcut& shortcut);
// Stores false; does nothing (and posts nothing) when false is already stored.
void userDefaultsDisable(const Name& name);
// Removes the key; does nothing (and posts nothing) when nothing is stored.
void userDefaultsRemove(const Name& name);
void userDefaultsDidChange(const Name& name);
// Every name with a stored key, whatever its value, as names without initial shortcut.
std::unordered_set<Name> storedNames();
// Writes `shortcut` only when nothing at all is stored under the name's key; no hot keys, no notification.
void setInitialShortcutIfNeeded(const Shortcut& shortcut, std::string_view rawValue);

// How the writes above keep the system hot keys in step; installed by the shortcut registry, which owns
// the hot keys. Unset hooks do nothing.
struct RegistryHooks {
  // Before a write: the name's old shortcut is about to go; release its hot key unless another name
  // (not `name`) still needs it.
  std::function<void(const Shortcut& oldShortcut, const Name& name)> releaseUnlessShared;
  // After a write: register the name's new shortcut when the name has handlers.
  std::function<void(const Name& name)> registerIfNeeded;
};
void setRegistryHooks(RegistryHooks hooks);

}  // namespace GlobalShortcuts
