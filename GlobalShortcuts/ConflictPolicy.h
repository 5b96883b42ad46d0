#pragma once

#include <cstddef>
#include <functional>

class QWidget;

namespace GlobalShortcuts {

// How a recorder reacts when a recorded shortcut is already in use: by an item of the application's
// main menu, by the desktop itself, or when the desktop does not allow it for this application.
enum class ConflictBehavior {
  // An alert, and the shortcut is refused.
  block,
  // An alert whose second button uses the shortcut anyway.
  warn,
  // The shortcut is taken without a word.
  allow,
};

// One behaviour for each kind of conflict. Plain value: any thread.
struct ConflictPolicy {
  ConflictBehavior menuItem = ConflictBehavior::block;
  ConflictBehavior systemShortcut = ConflictBehavior::warn;
  ConflictBehavior disallowed = ConflictBehavior::block;

  // Menu items block, system shortcuts warn, disallowed combinations block: what every recorder uses
  // unless a policy is set above it.
  static constexpr ConflictPolicy defaultPolicy() noexcept { return {}; }
  static constexpr ConflictPolicy allowAll() noexcept {
    return {ConflictBehavior::allow, ConflictBehavior::allow, ConflictBehavior::allow};
  }

  friend bool operator==(const ConflictPolicy&, const ConflictPolicy&) = default;
};

// The policy of the recorders in a widget subtree. A policy set on a widget applies to every recorder
// at or below it, up to the nearest widget below that sets another; recorders look it up through their
// ancestors each time they update, and setting it updates the recorders already in the subtree at once.
// Main thread only.
void setGlobalShortcutsConflictPolicy(QWidget& subtree, ConflictPolicy policy);
// The policy of the nearest of `widget` and its ancestors that sets one; the default policy when none does.
ConflictPolicy globalShortcutsConflictPolicy(const QWidget& widget);

}  // namespace GlobalShortcuts

template <>
struct std::hash<GlobalShortcuts::ConflictPolicy> {
  std::size_t operator()(const GlobalShortcuts::ConflictPolicy& policy) const noexcept {
    // Each behaviour fits in two bits; fed in the order menu item, system shortcut, disallowed.
    const auto bits = [](GlobalShortcuts::ConflictBehavior b) { return static_cast<std::size_t>(b); };
    return std::hash<std::size_t>{}(bits(policy.menuItem) << 4 | bits(policy.systemShortcut) << 2 |
                                    bits(policy.disallowed));
  }
};
