#pragma once

#include <QLineEdit>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GlobalShortcuts/ConflictPolicy.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"
#include "GlobalShortcuts/ValidationResult.h"
#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"

class QAction;

namespace GlobalShortcuts {

class LocalEventMonitor;

// Posted on the environment's notification center when a recorder starts recording ("isActive" true) and
// when the recording one stops ("isActive" false); read it with recorderIsActive().
inline constexpr const char* kRecorderActiveStatusDidChange = "GlobalShortcuts_recorderActiveStatusDidChange";

// The field in which the user records a global shortcut: it shows the current shortcut as text
// (Shortcut::presentableDescription), records while it has the keyboard focus, and stores what was
// recorded, either as a named shortcut (name mode: the name's value in the user defaults, whose changes
// elsewhere the field follows) or as a value the owner keeps (binding mode).
//
// Recording starts when the field takes the focus in a shown window and ends when it loses it (Escape,
// Tab, a click more than 3 pixels outside, a recorded shortcut, the window losing activation, the field
// being hidden). While it records, the field pauses the global hot keys (so an existing shortcut is
// recorded instead of firing), is the one activeRecorder(), takes every key press before the window's own
// shortcuts do, passes over modifier keys going down on their own, and refuses with a beep presses that
// cannot be a shortcut (plain or Shift letters: only F1 to F35 may go without Control, Option or
// Command). A recorded shortcut is checked against the application's main menu (unless it is the current
// one), then, in name mode, against the application's other named shortcuts (one that another name with
// handlers already has is refused with an alert, whatever the policy), then the desktop's rules and the
// desktop's own shortcuts, as conflictPolicy() says, and then against the owner's validation; a refusal
// keeps the field recording. A desktop shortcut accepted anyway ("Use
// Anyway", or a policy that allows it) is stored only when its hot key can be registered: when another
// program holds the combination, an alert says so and the old shortcut stays. Alerts go through the
// environment's alert presenter with the field's window as parent; recording stops while an alert is up and
// starts again after it. Just after its window is shown or activated, the field is left out of the focus
// chain's automatic choice for one turn of the main executor, so that a new window's first focus does not
// start a recording unasked.
//
// Without any modifier, three keys are commands (RecordingKeys.h): Backspace and Delete clear the field
// as its clear button does (the shortcut is removed, or stored as cleared for a name with an initial
// shortcut, onChange gets nothing, and recording goes on), Escape stops recording, Tab moves the focus on.
//
// Needs an installed environment (Environment.h) for its whole life. Main thread only. onChange and the
// validation may destroy the field.
class RecorderCocoa : public QLineEdit {
 public:
  using OnChange = std::function<void(const std::optional<Shortcut>&)>;
  using Validation = std::function<ValidationResult(const Shortcut&)>;
  enum class StorageMode { name, binding };

  // The width the field asks for at least; more when its text or a placeholder needs it.
  static constexpr int kMinimumWidth = 130;

  // Name mode: edits the stored shortcut of `name`. `onChange` is called after a recording is stored
  // (with the shortcut) and after the user clears the field (with nothing).
  explicit RecorderCocoa(const Name& name, OnChange onChange = {}, QWidget* parent = nullptr);
  // Binding mode: starts with `shortcut`; recordings change only the field's own value.
  explicit RecorderCocoa(std::optional<Shortcut> shortcut, OnChange onChange = {}, QWidget* parent = nullptr);
  ~RecorderCocoa() override;

  StorageMode storageMode() const noexcept { return storageMode_; }

  // Name mode: the name's stored shortcut; binding mode: the field's value.
  std::optional<Shortcut> shortcut() const;
  // Does nothing when `shortcut` is the current one. Name mode stores it (nothing removes the stored
  // value, or stores it as cleared for a name with an initial shortcut); binding mode keeps it. The text
  // follows. onChange is not called.
  void setShortcut(const std::optional<Shortcut>& shortcut);

  // Binding mode: a name with empty text, never stored.
  const Name& shortcutName() const noexcept { return shortcutName_; }
  void setShortcutName(const Name& name);

  // Consulted after the conflict checks; a disallow refuses the shortcut with its reason as alert title.
  void setValidateShortcut(Validation validation) { validateShortcut_ = std::move(validation); }
  const ConflictPolicy& conflictPolicy() const noexcept { return conflictPolicy_; }
  void setConflictPolicy(ConflictPolicy policy) { conflictPolicy_ = policy; }

  bool isRecording() const noexcept { return eventMonitor_ != nullptr; }
  // The clear button (an action at the trailing edge), visible exactly while the field shows a shortcut.
  QAction* clearButton() const noexcept { return cancelButton_; }

  // The field that records now; nothing when none does.
  static RecorderCocoa* activeRecorder();

  // At least kMinimumWidth wide, enough for the shortcut's text and the placeholders; as high as a line
  // edit.
  QSize sizeHint() const override;

 protected:
  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  RecorderCocoa(StorageMode mode, Name name, std::optional<Shortcut> bindingShortcut, OnChange onChange,
                QWidget* parent);

  void configureView();
  void updateStringValue();
  void updateClearButton();
  void setUpEvents();
  void preventBecomingKey();
  void startRecording();
  void endRecording();
  void clearButtonClicked();
  void storeCleared();
  // The handler of the recording monitor: the event to let it through, nullptr to swallow it.
  QEvent* handleMonitoredEvent(QEvent* event);
  QEvent* handleKeyDown(QKeyEvent& event);
  bool handleConflict(ConflictBehavior behavior, const std::string& title, const std::string& message);
  platform::AlertPresenter::ModalResponse showAlert(const std::string& title, const std::string& message,
                                                    std::vector<std::string> buttonTitles);
  void beep();

  const OnChange onChange_;
  const StorageMode storageMode_;
  std::optional<Shortcut> bindingShortcut_;
  std::unique_ptr<LocalEventMonitor> eventMonitor_;
  platform::NotificationCenter::Token shortcutsNameChangeObserver_;
  Validation validateShortcut_;
  ConflictPolicy conflictPolicy_;
  Name shortcutName_;
  QAction* cancelButton_ = nullptr;
};

}  // namespace GlobalShortcuts
