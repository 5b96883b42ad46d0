#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "GlobalShortcuts/Shortcut.h"

namespace GlobalShortcuts {

// A user-configurable shortcut slot, such as "translate". Its text is the suffix of the key the slot's
// shortcut is stored under ("GlobalShortcuts_" + name) and the handle handlers, menu items and recorders
// attach to. Equality and hashing use the text only: two names with the same text are the same slot,
// whatever their initial shortcuts.
//
// Creating a name with the main constructor writes its initial shortcut to storage when nothing at all is
// stored for it yet (never over a user's choice, including a cleared slot), and makes sure, in a later turn
// of the main executor, that the shared hot-key center exists. Any thread may create names; reading and
// writing `shortcut` is main thread only.
class Name {
 public:
  explicit Name(std::string name, std::optional<Shortcut> initial = std::nullopt);
  // Just the text: stores nothing and sets nothing up (for names rebuilt from stored keys).
  static Name fromRawValue(std::string rawValue);

  const std::string& rawValue() const noexcept { return rawValue_; }
  const std::optional<Shortcut>& initialShortcut() const noexcept { return initialShortcut_; }
  const std::optional<Shortcut>& defaultShortcut() const noexcept { return initialShortcut_; }

  // The stored shortcut; nothing when cleared, absent or unreadable (the initial shortcut is not applied).
  std::optional<Shortcut> shortcut() const;
  // Stores `shortcut`; nothing clears the slot: the key is removed for a name without initial shortcut,
  // and false is stored for one with it, so that the initial shortcut never comes back. Hot keys follow
  // and the change is announced ("GlobalShortcuts_shortcutByNameDidChange").
  void setShortcut(const std::optional<Shortcut>& shortcut) const;

  friend bool operator==(const Name& a, const Name& b) noexcept { return a.rawValue_ == b.rawValue_; }

 private:
  struct Raw {};
  Name(Raw, std::string rawValue) : rawValue_(std::move(rawValue)) {}

  std::string rawValue_;
  std::optional<Shortcut> initialShortcut_;
};

// Whether a name has already set the package up (created the shared hot-key center). Main thread.
bool isInitialized();
// Forgets the set-up, so that the next name sets the package up again (installing and uninstalling the
// environment do this).
void resetInitialization();

}  // namespace GlobalShortcuts

template <>
struct std::hash<GlobalShortcuts::Name> {
  std::size_t operator()(const GlobalShortcuts::Name& name) const noexcept {
    return std::hash<std::string>{}(name.rawValue());
  }
};
