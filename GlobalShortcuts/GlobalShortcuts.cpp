#include "GlobalShortcuts/GlobalShortcuts.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/HotKeyCenter.h"

namespace GlobalShortcuts {
namespace {

// A map that iterates in insertion order, so that dispatch runs names in the order their first handler
// came. The tables hold a handful of entries: a linear search is the cheapest lookup.
template <class K, class V>
class OrderedMap {
 public:
  using Entry = std::pair<K, V>;

  V* find(const K& key) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
    return it == entries_.end() ? nullptr : &it->second;
  }
  const V* find(const K& key) const { return const_cast<OrderedMap*>(this)->find(key); }
  V& operator[](const K& key) {
    if (V* value = find(key)) return *value;
    entries_.emplace_back(key, V{});
    return entries_.back().second;
  }
  void erase(const K& key) {
    std::erase_if(entries_, [&](const Entry& e) { return e.first == key; });
  }
  void clear() { entries_.clear(); }
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

using HandlerList = std::vector<Handler>;
using StreamHandlers = OrderedMap<registry::StreamId, Handler>;

struct State {
  OrderedMap<Shortcut, std::shared_ptr<HotKey>> hotKeys;
  std::vector<Name> disabledNames;
  OrderedMap<Name, HandlerList> keyDownHandlers;
  OrderedMap<Name, HandlerList> keyUpHandlers;
  OrderedMap<Name, StreamHandlers> streamKeyDownHandlers;
  OrderedMap<Name, StreamHandlers> streamKeyUpHandlers;
  OrderedMap<Shortcut, StreamHandlers> streamShortcutKeyDownHandlers;
  OrderedMap<Shortcut, StreamHandlers> streamShortcutKeyUpHandlers;
  bool isEnabled = true;
  bool isPaused = false;
};

State& state() {
  static State value;
  return value;
}

bool isDisabled(const Name& name) {
  const auto& disabled = state().disabledNames;
  return std::find(disabled.begin(), disabled.end(), name) != disabled.end();
}

template <class Map, class Key>
bool hasNonEmptyEntry(const Map& map, const Key& key) {
  const auto* value = map.find(key);
  if (value == nullptr) return false;
  if constexpr (requires { value->entries(); }) {
    return !value->entries().empty();
  } else {
    return !value->empty();
  }
}

bool hasAnyHandlers(const Name& name) {
  const auto& s = state();
  return hasNonEmptyEntry(s.keyDownHandlers, name) || hasNonEmptyEntry(s.keyUpHandlers, name) ||
         hasNonEmptyEntry(s.streamKeyDownHandlers, name) || hasNonEmptyEntry(s.streamKeyUpHandlers, name);
}

bool hasActiveHandlers(const Name& name) {
  return !isDisabled(name) && hasAnyHandlers(name);
}

bool hasHardCodedStreamHandlers(const Shortcut& shortcut) {
  const auto& s = state();
  return hasNonEmptyEntry(s.streamShortcutKeyDownHandlers, shortcut) ||
         hasNonEmptyEntry(s.streamShortcutKeyUpHandlers, shortcut);
}

std::vector<Name> namesWithAllHandlers() {
  const auto& s = state();
  std::vector<Name> names;
  auto add = [&](const auto& table) {
    for (const auto& [name, value] : table.entries()) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  };
  add(s.keyDownHandlers);
  add(s.keyUpHandlers);
  add(s.streamKeyDownHandlers);
  add(s.streamKeyUpHandlers);
  return names;
}

// Dropping the entry ends the hot key: the registry is its only owner.
void releaseHotKey(const Shortcut& shortcut) {
  // Moved out first: the hot key's tear-down must not run while the table is being changed.
  std::shared_ptr<HotKey> hotKey;
  if (auto* entry = state().hotKeys.find(shortcut)) hotKey = std::move(*entry);
  state().hotKeys.erase(shortcut);
}

void releaseUnlessShared(const Shortcut& shortcut, const std::optional<Name>& excluding) {
  if (!registry::isShortcutActive(shortcut, excluding)) releaseHotKey(shortcut);
}

void handleKeyEvent(EventType type, const Shortcut& shortcut) {
  auto& s = state();
  if (s.isPaused) return;
  const bool down = type == EventType::keyDown;
  // Copies: a closure may change any table while it runs.
  const auto closures = (down ? s.keyDownHandlers : s.keyUpHandlers).entries();
  const auto streams = (down ? s.streamKeyDownHandlers : s.streamKeyUpHandlers).entries();
  const auto* fixed = (down ? s.streamShortcutKeyDownHandlers : s.streamShortcutKeyUpHandlers).find(shortcut);
  const auto fixedStreams = fixed ? fixed->entries() : std::vector<StreamHandlers::Entry>{};

  // The name's shortcut at the moment of the press decides, not the one its hot key was made for.
  auto matches = [&](const Name& name) { return getShortcut(name) == shortcut && !isDisabled(name); };
  for (const auto& [name, list] : closures) {
    if (!matches(name)) continue;
    for (const auto& closure : list) closure();
  }
  for (const auto& [name, handlers] : streams) {
    if (!matches(name)) continue;
    for (const auto& [id, closure] : handlers.entries()) closure();
  }
  for (const auto& [id, closure] : fixedStreams) closure();
}

void applySwitches() {
  HotKeyCenter::shared().setEnabled(state().isEnabled && !state().isPaused);
}

template <class Table, class Key>
void removeStream(Table& table, const Key& key, registry::StreamId id) {
  if (auto* handlers = table.find(key)) {
    handlers->erase(id);
    if (handlers->entries().empty()) table.erase(key);
  }
}

}  // namespace

void onKeyDown(const Name& name, Handler action) {
  state().keyDownHandlers[name].push_back(std::move(action));
  registry::registerIfNeeded(name);
}

void onKeyUp(const Name& name, Handler action) {
  state().keyUpHandlers[name].push_back(std::move(action));
  registry::registerIfNeeded(name);
}

void removeHandler(const Name& name) {
  auto& s = state();
  s.keyDownHandlers.erase(name);
  s.keyUpHandlers.erase(name);
  if (!isDisabled(name) &&
      (hasNonEmptyEntry(s.streamKeyDownHandlers, name) || hasNonEmptyEntry(s.streamKeyUpHandlers, name))) {
    return;
  }
  if (const auto shortcut = getShortcut(name)) releaseUnlessShared(*shortcut, name);
}

void removeAllHandlers() {
  auto& s = state();
  std::vector<Shortcut> shortcuts;
  for (const auto* table : {&s.keyDownHandlers, &s.keyUpHandlers}) {
    for (const auto& [name, list] : table->entries()) {
      const auto shortcut = getShortcut(name);
      if (shortcut && std::find(shortcuts.begin(), shortcuts.end(), *shortcut) == shortcuts.end()) {
        shortcuts.push_back(*shortcut);
      }
    }
  }
  s.keyDownHandlers.clear();
  s.keyUpHandlers.clear();
  for (const auto& shortcut : shortcuts) releaseUnlessShared(shortcut, std::nullopt);
}

void disable(const std::vector<Name>& names) {
  for (const auto& name : names) {
    if (!isDisabled(name)) state().disabledNames.push_back(name);
    if (const auto shortcut = getShortcut(name)) releaseUnlessShared(*shortcut, name);
  }
}

void enable(const std::vector<Name>& names) {
  for (const auto& name : names) {
    std::erase(state().disabledNames, name);
    registry::registerIfNeeded(name);
  }
}

bool isEnabled() {
  return state().isEnabled;
}

void setEnabled(bool enabled) {
  if (state().isEnabled == enabled) return;
  state().isEnabled = enabled;
  applySwitches();
}

bool isEnabled(const Name& name) {
  if (!state().isEnabled || !hasActiveHandlers(name)) return false;
  const auto shortcut = getShortcut(name);
  return shortcut && state().hotKeys.find(*shortcut) != nullptr;
}

bool isPaused() {
  return state().isPaused;
}

void setPaused(bool paused) {
  if (state().isPaused == paused) return;
  state().isPaused = paused;
  applySwitches();
}

void reset(const std::vector<Name>& names) {
  for (const auto& name : names) setShortcut(name.initialShortcut(), name);
}

void resetAll() {
  for (const auto& name : storedNames()) setShortcut(std::nullopt, name);
}

namespace registry {

void addStreamHandlers(const Name& name, StreamId id, Handler keyDown, Handler keyUp) {
  state().streamKeyDownHandlers[name][id] = std::move(keyDown);
  state().streamKeyUpHandlers[name][id] = std::move(keyUp);
  registerIfNeeded(name);
}

void removeStreamHandlers(const Name& name, StreamId id) {
  removeStream(state().streamKeyDownHandlers, name, id);
  removeStream(state().streamKeyUpHandlers, name, id);
  if (const auto shortcut = getShortcut(name)) releaseUnlessShared(*shortcut, std::nullopt);
}

void addStreamHandlers(const Shortcut& shortcut, StreamId id, Handler keyDown, Handler keyUp) {
  state().streamShortcutKeyDownHandlers[shortcut][id] = std::move(keyDown);
  state().streamShortcutKeyUpHandlers[shortcut][id] = std::move(keyUp);
  registerIfNeeded(shortcut);
}

void removeStreamHandlers(const Shortcut& shortcut, StreamId id) {
  removeStream(state().streamShortcutKeyDownHandlers, shortcut, id);
  removeStream(state().streamShortcutKeyUpHandlers, shortcut, id);
  releaseUnlessShared(shortcut, std::nullopt);
}

void registerIfNeeded(const Name& name) {
  if (!hasActiveHandlers(name)) return;
  if (const auto shortcut = getShortcut(name)) registerIfNeeded(*shortcut);
}

void registerIfNeeded(const Shortcut& shortcut) {
  auto& hotKeys = state().hotKeys;
  if (hotKeys.find(shortcut) != nullptr) return;
  auto hotKey = std::make_shared<HotKey>(
      shortcut.carbonKeyCode(), shortcut.carbonModifiers(),
      [shortcut] { handleKeyEvent(EventType::keyDown, shortcut); },
      [shortcut] { handleKeyEvent(EventType::keyUp, shortcut); });
  if (!HotKeyCenter::shared().registerHotKey(hotKey)) return;  // refused: tried again on the next call
  hotKey->onRegistrationFailed = [shortcut, weak = std::weak_ptr<HotKey>(hotKey)] {
    const auto failed = weak.lock();
    const auto* entry = state().hotKeys.find(shortcut);
    if (failed && entry != nullptr && *entry == failed) releaseHotKey(shortcut);
  };
  hotKeys[shortcut] = std::move(hotKey);
}

bool isShortcutActive(const Shortcut& shortcut, const std::optional<Name>& excluding) {
  for (const auto& name : namesWithAllHandlers()) {
    if (excluding && name == *excluding) continue;
    if (hasActiveHandlers(name) && getShortcut(name) == shortcut) return true;
  }
  return hasHardCodedStreamHandlers(shortcut);
}

bool isUsedByAnotherName(const Shortcut& shortcut, const Name& excluding) {
  for (const auto& name : namesWithAllHandlers()) {
    if (!(name == excluding) && getShortcut(name) == shortcut) return true;
  }
  return false;
}

bool hasHotKey(const Shortcut& shortcut) {
  return state().hotKeys.find(shortcut) != nullptr;
}

bool canRegister(const Shortcut& shortcut) {
  if (hasHotKey(shortcut)) return true;
  return HotKeyCenter::shared().isRegistrable(shortcut.carbonKeyCode(), shortcut.carbonModifiers());
}

std::optional<std::int64_t> hotKeyId(const Shortcut& shortcut) {
  const auto* hotKey = state().hotKeys.find(shortcut);
  if (hotKey == nullptr) return std::nullopt;
  return (*hotKey)->id();
}

void reset() {
  // Swapped out before the old state ends: ending hot keys call back into the (new, empty) state.
  State old = std::exchange(state(), State{});
  old.hotKeys.clear();
  setRegistryHooks({
      [](const Shortcut& oldShortcut, const Name& name) { releaseUnlessShared(oldShortcut, name); },
      [](const Name& name) { registerIfNeeded(name); },
  });
}

}  // namespace registry

}  // namespace GlobalShortcuts
