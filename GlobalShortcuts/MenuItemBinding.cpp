#include "GlobalShortcuts/MenuItemBinding.h"

#include <QAction>
#include <QKeySequence>
#include <QPointer>
#include <unordered_map>
#include <utility>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/NotificationUserInfo.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "platform/NotificationCenter.h"

namespace GlobalShortcuts {
namespace {

// What the package keeps for an action, until the action is destroyed.
struct Binding {
  // Held exactly while the action is bound to a name.
  std::optional<platform::NotificationCenter::Token> observer;
  // The action's own key sequence from before its first binding.
  std::optional<QKeySequence> fallback;
  bool allowsAutomaticKeyEquivalentLocalization = true;
};

std::unordered_map<const QAction*, Binding>& bindings() {
  static std::unordered_map<const QAction*, Binding> table;
  return table;
}

Binding& bindingOf(QAction& action) {
  auto [it, inserted] = bindings().try_emplace(&action);
  if (inserted) QObject::connect(&action, &QObject::destroyed, [key = &action] { bindings().erase(key); });
  return it->second;
}

// The action's table entry is written before its key sequence: the action's changed() signal runs other
// code, which may even destroy the action.
void show(QAction& action, const Shortcut& shortcut) {
  bindingOf(action).allowsAutomaticKeyEquivalentLocalization = false;
  action.setShortcut(shortcut.toQKeySequence().value_or(QKeySequence()));
}

void showFallback(QAction& action, std::optional<QKeySequence> fallback) {
  bindingOf(action).allowsAutomaticKeyEquivalentLocalization = true;
  action.setShortcut(fallback.value_or(QKeySequence()));
}

// The stored shortcut, or the fallback: a name's initial shortcut is not consulted.
void showStored(QAction& action, const Name& name) {
  const auto stored = storedShortcut(name);
  if (stored.kind == StoredShortcut::Kind::shortcut) {
    show(action, *stored.shortcut);
  } else {
    showFallback(action, bindingOf(action).fallback);
  }
}

}  // namespace

void setShortcut(QAction& action, const std::optional<Name>& name) {
  auto& binding = bindingOf(action);
  if (!name) {
    const auto fallback = std::exchange(binding.fallback, std::nullopt);
    binding.observer.reset();
    showFallback(action, fallback);
    return;
  }
  if (binding.observer) {
    binding.observer.reset();
  } else {
    binding.fallback = action.shortcut();
  }
  binding.observer = environment().notificationCenter->addObserver(
      kShortcutByNameDidChange, [weak = QPointer<QAction>(&action), bound = *name](const auto& notification) {
        const auto changed = globalShortcutsName(notification);
        if (!changed || changed->rawValue() != bound.rawValue() || !weak) return;
        showStored(*weak, bound);
      });
  showStored(action, *name);
}

void setShortcut(QAction& action, const std::optional<Shortcut>& shortcut) {
  auto& binding = bindingOf(action);
  binding.observer.reset();
  binding.fallback.reset();
  if (shortcut) {
    show(action, *shortcut);
  } else {
    showFallback(action, std::nullopt);
  }
}

bool allowsAutomaticKeyEquivalentLocalization(const QAction& action) {
  const auto it = bindings().find(&action);
  return it == bindings().end() || it->second.allowsAutomaticKeyEquivalentLocalization;
}

}  // namespace GlobalShortcuts
