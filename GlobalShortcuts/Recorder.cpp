#include "GlobalShortcuts/Recorder.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

#include "GlobalShortcuts/ConflictPolicy.h"

namespace GlobalShortcuts {

Recorder::Recorder(ShortcutSource source, OnChange onChange, QWidget* parent)
    : Recorder(static_cast<QWidget*>(nullptr), std::move(source), std::move(onChange), parent) {}

Recorder::Recorder(const QString& label, ShortcutSource source, OnChange onChange, QWidget* parent)
    : Recorder(new QLabel(label), std::move(source), std::move(onChange), parent) {}

Recorder::Recorder(QWidget* label, ShortcutSource source, OnChange onChange, QWidget* parent)
    : QWidget(parent),
      shortcutSource_(std::move(source)),
      onChange_(std::move(onChange)),
      label_(label),
      coordinator_(std::make_shared<Coordinator>()) {
  coordinator_->onChange = onChange_;
  if (const auto* binding = std::get_if<ShortcutBinding>(&shortcutSource_))
    coordinator_->shortcutBinding = *binding;

  auto report = [coordinator = coordinator_](const std::optional<Shortcut>& shortcut) {
    // Copies: either call may replace the coordinator's members (an update from inside onChange).
    if (const auto binding = coordinator->shortcutBinding; binding && binding->set) binding->set(shortcut);
    if (const auto onChange = coordinator->onChange) onChange(shortcut);
  };
  if (const auto* name = std::get_if<Name>(&shortcutSource_)) {
    field_ = new RecorderCocoa(*name, std::move(report));
  } else {
    const auto& binding = std::get<ShortcutBinding>(shortcutSource_);
    field_ = new RecorderCocoa(binding.get ? binding.get() : std::nullopt, std::move(report));
  }

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  if (label_ != nullptr) {
    if (auto* text = dynamic_cast<QLabel*>(label_)) text->setBuddy(field_);
    layout->addWidget(label_, 1);
  }
  layout->addWidget(field_, 0, Qt::AlignRight | Qt::AlignVCenter);
  setSizePolicy(label_ != nullptr ? QSizePolicy::Preferred : QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusProxy(field_);
  updateField();
}

Recorder& Recorder::shortcutValidation(Validation validation) {
  validateShortcut_ = std::move(validation);
  updateField();
  return *this;
}

void Recorder::updateField() {
  coordinator_->onChange = onChange_;
  field_->setValidateShortcut(validateShortcut_);
  field_->setConflictPolicy(globalShortcutsConflictPolicy(*this));
  if (const auto* binding = std::get_if<ShortcutBinding>(&shortcutSource_)) {
    coordinator_->shortcutBinding = *binding;
    const auto value = binding->get ? binding->get() : std::nullopt;
    if (field_->shortcut() != value) field_->setShortcut(value);
  } else {
    field_->setShortcutName(std::get<Name>(shortcutSource_));
  }
}

bool Recorder::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::ParentChange:
    case QEvent::Show:
      // Its place in the widget tree, and so its conflict policy, may have changed.
      updateField();
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

}  // namespace GlobalShortcuts
