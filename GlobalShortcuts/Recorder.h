#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/Shortcut.h"

class QLabel;

namespace GlobalShortcuts {

// A shortcut that the recorder's owner keeps: `get` reads its current value, `set` writes a recorded or
// cleared one.
struct ShortcutBinding {
  std::function<std::optional<Shortcut>()> get;
  std::function<void(const std::optional<Shortcut>&)> set;
};

// What a recorder edits: a named shortcut in the user defaults, or the owner's own value.
using ShortcutSource = std::variant<Name, ShortcutBinding>;

// The widget to put a shortcut recorder into a window: a RecorderCocoa field, with a label before it
// when one is given. It passes the recorder field the conflict policy of its place in the widget tree
// (ConflictPolicy.h) and its owner's validation, and reports through onChange: a recorded or cleared
// shortcut is first stored (named shortcut) or written through the binding's `set`, then handed to
// onChange.
//
// updateField() brings the field in line with the recorder: the current onChange and validation, the
// conflict policy looked up afresh, the binding's value (written into the field only when it differs
// from what the field shows) and the name. It runs when the recorder is made, shown or moved to another
// parent, when its validation changes and when a conflict policy is set above it; an owner whose bound
// value changes elsewhere calls it.
//
// Sizes to its content (the field asks for RecorderCocoa::kMinimumWidth). Needs an installed environment
// for its whole life. Main thread only.
class Recorder : public QWidget {
 public:
  using OnChange = RecorderCocoa::OnChange;
  using Validation = RecorderCocoa::Validation;

  explicit Recorder(ShortcutSource source, OnChange onChange = {}, QWidget* parent = nullptr);
  // With a text label before the field.
  Recorder(const QString& label, ShortcutSource source, OnChange onChange = {}, QWidget* parent = nullptr);
  // With any widget as label; the recorder takes it over.
  Recorder(QWidget* label, ShortcutSource source, OnChange onChange = {}, QWidget* parent = nullptr);

  // The owner's check of each recorded shortcut, after the conflict checks; a disallow refuses it with
  // its reason as alert title. Returns the recorder, so that it can follow its creation.
  Recorder& shortcutValidation(Validation validation);

  void updateField();

  bool hasLabel() const noexcept { return label_ != nullptr; }
  QWidget* label() const noexcept { return label_; }
  RecorderCocoa& field() const noexcept { return *field_; }

 protected:
  bool event(QEvent* event) override;

 private:
  // What the field reports through: replaced on every update, so that a report always reaches the
  // current binding and onChange.
  struct Coordinator {
    std::optional<ShortcutBinding> shortcutBinding;
    OnChange onChange;
  };

  const ShortcutSource shortcutSource_;
  OnChange onChange_;
  Validation validateShortcut_;
  QWidget* label_ = nullptr;
  std::shared_ptr<Coordinator> coordinator_;
  RecorderCocoa* field_ = nullptr;
};

}  // namespace GlobalShortcuts
