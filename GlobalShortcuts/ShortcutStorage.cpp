#include "GlobalShortcuts/ShortcutStorage.h"

#include "GlobalShortcuts/Environment.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace GlobalShortcuts {
namespace {

RegistryHooks& hooks() {
  static RegistryHooks value;
  return value;
}

platform::UserDefaults& defaults() {
  return *environment().userDefaults;
}

// A stored false, or a number 0 as other writers may store a false.
bool isFalse(const platform::DefaultsValue& value) {
  if (const auto* flag = value.get<bool>()) return !*flag;
  if (const auto* integer = value.get<std::int64_t>()) return *integer == 0;
  if (const auto* number = value.get<double>()) return *number == 0.0;
  return false;
}

StoredShortcut read(const std::optional<platform::DefaultsValue>& value) {
  if (!value) return {};
  if (isFalse(*value)) return {StoredShortcut::Kind::disabled, std::nullopt};
  if (const auto* text = value->get<std::string>()) {
    if (auto shortcut = Shortcut::fromJSON(*text)) return {StoredShortcut::Kind::shortcut, shortcut};
  }
  return {};
}

void releaseOldShortcut(const Name& name) {
  const auto current = storedShortcut(name);
  if (current.kind == StoredShortcut::Kind::shortcut && hooks().releaseUnlessShared) {
    hooks().releaseUnlessShared(*current.shortcut, name);
  }
}

void registerIfNeeded(const Name& name) {
  if (hooks().registerIfNeeded) hooks().registerIfNeeded(name);
}

}  // namespace

std::string userDefaultsKey(std::string_view rawValue) {
  return std::string(kUserDefaultsKeyPrefix) + std::string(rawValue);
}

StoredShortcut storedShortcut(const Name& name) {
  return read(defaults().objectForKey(userDefaultsKey(name.rawValue())));
}

std::optional<Shortcut> getShortcut(const Name& name) {
  return storedShortcut(name).shortcut;
}

void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
  if (shortcut) {
    userDefaultsSet(name, *shortcut);
  } else if (name.initialShortcut()) {
    userDefaultsDisable(name);
  } else {
    userDefaultsRemove(name);
  }
}

void userDefaultsSet(const Name& name, const Shortcut& shortcut) {
  const std::string json = shortcut.toJSON();
  releaseOldShortcut(name);
  defaults().set(userDefaultsKey(name.rawValue()), json);
  registerIfNeeded(name);
  userDefaultsDidChange(name);
}

void userDefaultsDisable(const Name& name) {
  const auto key = userDefaultsKey(name.rawValue());
  const auto value = defaults().objectForKey(key);
  if (value && isFalse(*value)) return;
  releaseOldShortcut(name);
  defaults().set(key, false);
  registerIfNeeded(name);
  userDefaultsDidChange(name);
}

void userDefaultsRemove(const Name& name) {
  const auto key = userDefaultsKey(name.rawValue());
  if (!defaults().objectForKey(key)) return;
  releaseOldShortcut(name);
  defaults().remove(key);
  registerIfNeeded(name);
  userDefaultsDidChange(name);
}

void userDefaultsDidChange(const Name& name) {
  environment().notificationCenter->post(kShortcutByNameDidChange, platform::UserInfo{{"name", name}});
}

std::unordered_set<Name> storedNames() {
  std::unordered_set<Name> names;
  for (const auto& [key, value] : defaults().dictionaryRepresentation()) {
    if (key.starts_with(kUserDefaultsKeyPrefix)) {
      names.insert(Name::fromRawValue(key.substr(kUserDefaultsKeyPrefix.size())));
    }
  }
  return names;
}

void setInitialShortcutIfNeeded(const Shortcut& shortcut, std::string_view rawValue) {
  const auto key = userDefaultsKey(rawValue);
  if (defaults().objectForKey(key)) return;
  defaults().set(key, shortcut.toJSON());
}

void setRegistryHooks(RegistryHooks newHooks) {
  hooks() = std::move(newHooks);
}

}  // namespace GlobalShortcuts
