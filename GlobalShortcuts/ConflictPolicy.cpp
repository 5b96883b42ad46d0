#include "GlobalShortcuts/ConflictPolicy.h"

#include <QVariant>
#include <QWidget>

#include "GlobalShortcuts/Recorder.h"

Q_DECLARE_METATYPE(GlobalShortcuts::ConflictPolicy)

namespace GlobalShortcuts {
namespace {

constexpr const char* kPolicyProperty = "GlobalShortcuts_conflictPolicy";

}  // namespace

void setGlobalShortcutsConflictPolicy(QWidget& subtree, ConflictPolicy policy) {
  subtree.setProperty(kPolicyProperty, QVariant::fromValue(policy));
  if (auto* recorder = dynamic_cast<Recorder*>(&subtree)) recorder->updateField();
  for (auto* widget : subtree.findChildren<QWidget*>()) {
    if (auto* recorder = dynamic_cast<Recorder*>(widget)) recorder->updateField();
  }
}

ConflictPolicy globalShortcutsConflictPolicy(const QWidget& widget) {
  for (const QWidget* w = &widget; w != nullptr; w = w->parentWidget()) {
    const QVariant value = w->property(kPolicyProperty);
    if (value.canConvert<ConflictPolicy>()) return value.value<ConflictPolicy>();
  }
  return ConflictPolicy::defaultPolicy();
}

}  // namespace GlobalShortcuts
