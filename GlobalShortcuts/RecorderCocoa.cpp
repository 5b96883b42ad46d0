#include "GlobalShortcuts/RecorderCocoa.h"

#include <QAction>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/EventTypeMask.h"
#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/Localization.h"
#include "GlobalShortcuts/MenuTree.h"
#include "GlobalShortcuts/NotificationUserInfo.h"
#include "GlobalShortcuts/RecordingKeys.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "platform/MainExecutor.h"
#include "platform/SystemBeep.h"

namespace GlobalShortcuts {
namespace {

// Left and right mouse up, key down.
constexpr EventTypeMask kRecordingEvents =
    EventTypeMask::leftMouseUp | EventTypeMask::rightMouseUp | EventTypeMask::keyDown;
// How far outside the field a click may end without ending the recording, in pixels.
constexpr qreal kClickSlack = 3;
// Around the text, and beside the clear button's icon, in pixels.
constexpr int kTextMargin = 4;
constexpr int kClearButtonMargin = 6;
// Caps Lock, Control, Option, Command and Fn: a shortcut whose only one of these is Option falls under
// the desktop's rule against Option shortcuts (Shift may come with it).
constexpr ModifierFlags::RawValue kOptionRuleModifiers = 0x9D0000;

QPointer<RecorderCocoa>& activeRecorderSlot() {
  static QPointer<RecorderCocoa> recorder;
  return recorder;
}

QString qt(const std::string& text) {
  return QString::fromStdString(text);
}

QString localized(std::string_view key) {
  return qt(localizedString(key));
}

void postActiveStatus(bool isActive) {
  environment().notificationCenter->post(kRecorderActiveStatusDidChange,
                                         platform::UserInfo{{kUserInfoIsActiveKey, isActive}});
}

}  // namespace

RecorderCocoa::RecorderCocoa(const Name& name, OnChange onChange, QWidget* parent)
    : RecorderCocoa(StorageMode::name, name, std::nullopt, std::move(onChange), parent) {}

RecorderCocoa::RecorderCocoa(std::optional<Shortcut> shortcut, OnChange onChange, QWidget* parent)
    : RecorderCocoa(StorageMode::binding, Name::fromRawValue({}), std::move(shortcut), std::move(onChange),
                    parent) {}

RecorderCocoa::RecorderCocoa(StorageMode mode, Name name, std::optional<Shortcut> bindingShortcut,
                             OnChange onChange, QWidget* parent)
    : QLineEdit(parent),
      onChange_(std::move(onChange)),
      storageMode_(mode),
      bindingShortcut_(std::move(bindingShortcut)),
      shortcutName_(std::move(name)) {
  configureView();
  updateStringValue();
  setUpEvents();
}

RecorderCocoa::~RecorderCocoa() {
  // Gone while recording: the hot keys must not stay paused.
  if (isRecording()) endRecording();
}

RecorderCocoa* RecorderCocoa::activeRecorder() {
  return activeRecorderSlot().data();
}

void RecorderCocoa::configureView() {
  setPlaceholderText(localized(texts::recordShortcut));
  setAlignment(Qt::AlignCenter);
  // Nothing is typed into the field: key presses are recorded, and only the clear button edits the text.
  setReadOnly(true);
  setContextMenuPolicy(Qt::NoContextMenu);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  resize(sizeHint());
  // Out of the focus chain until its window has shown it (the focus guard puts it in).
  setFocusPolicy(Qt::ClickFocus);
  cancelButton_ = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), TrailingPosition);
  QObject::connect(cancelButton_, &QAction::triggered, this, [this] { clearButtonClicked(); });
}

QSize RecorderCocoa::sizeHint() const {
  // Wide enough for the shortcut and both placeholders whole, centred clear of the clear button: Linux
  // names ("Ctrl+Shift+PgDown") and some languages' placeholders need more than the usual width.
  const QFontMetrics metrics = fontMetrics();
  int textWidth = metrics.horizontalAdvance(text());
  for (const auto key : {texts::recordShortcut, texts::pressShortcut}) {
    textWidth = std::max(textWidth, metrics.horizontalAdvance(localized(key)));
  }
  const int button = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this) + kClearButtonMargin;
  QStyleOptionFrame option;
  initStyleOption(&option);
  const QSize contents(textWidth + 2 * (button + kTextMargin), QLineEdit::sizeHint().height());
  const int width = style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this).width();
  return {std::max(kMinimumWidth, width), QLineEdit::sizeHint().height()};
}

std::optional<Shortcut> RecorderCocoa::shortcut() const {
  if (storageMode_ == StorageMode::binding) return bindingShortcut_;
  return getShortcut(shortcutName_);
}

void RecorderCocoa::setShortcut(const std::optional<Shortcut>& shortcut) {
  if (storageMode_ == StorageMode::binding) {
    if (shortcut == bindingShortcut_) return;
    bindingShortcut_ = shortcut;
  } else {
    if (shortcut == getShortcut(shortcutName_)) return;
    if (shortcut) {
      userDefaultsSet(shortcutName_, *shortcut);
    } else {
      GlobalShortcuts::setShortcut(std::nullopt, shortcutName_);
    }
  }
  updateStringValue();
}

void RecorderCocoa::setShortcutName(const Name& name) {
  const bool changed = name.rawValue() != shortcutName_.rawValue();
  shortcutName_ = name;
  if (changed && storageMode_ == StorageMode::name) updateStringValue();
}

void RecorderCocoa::updateStringValue() {
  const auto current = shortcut();
  setText(current ? qt(current->presentableDescription()) : QString());
  updateClearButton();
}

void RecorderCocoa::updateClearButton() {
  cancelButton_->setVisible(!text().isEmpty());
  // The width follows the text.
  updateGeometry();
  if (parentWidget() == nullptr || parentWidget()->layout() == nullptr) resize(sizeHint());
}

void RecorderCocoa::setUpEvents() {
  if (storageMode_ != StorageMode::name) return;
  QPointer<RecorderCocoa> self(this);
  shortcutsNameChangeObserver_ = environment().notificationCenter->addObserver(
      kShortcutByNameDidChange, [self](const platform::Notification& notification) {
        const auto name = globalShortcutsName(notification);
        if (!name) return;
        environment().mainExecutor->post([self, rawValue = name->rawValue()] {
          if (self && rawValue == self->shortcutName_.rawValue()) self->updateStringValue();
        });
      });
}

void RecorderCocoa::preventBecomingKey() {
  // Qt gives a newly activated window's focus to the first widget in its chain that takes Tab focus;
  // click focus alone keeps the field out of that choice.
  setFocusPolicy(Qt::ClickFocus);
  QPointer<RecorderCocoa> self(this);
  environment().mainExecutor->post([self] {
    if (self) self->setFocusPolicy(Qt::StrongFocus);
  });
}

bool RecorderCocoa::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::ShortcutOverride:
      // Accepted, the key press skips the window's shortcuts and comes to the recording monitor.
      if (isRecording()) {
        event->accept();
        return true;
      }
      break;
    case QEvent::Show:
    case QEvent::WindowActivate:
      preventBecomingKey();
      break;
    case QEvent::WindowDeactivate: {
      QPointer<RecorderCocoa> self(this);
      environment().mainExecutor->post([self] {
        // An activation since then (the end of an alert) wins.
        if (!self || self->isActiveWindow()) return;
        self->endRecording();
        self->clearFocus();
      });
      break;
    }
    case QEvent::Hide:
      endRecording();
      // Forgotten as its window's focus, so that showing the window again does not start a recording.
      clearFocus();
      break;
    default:
      break;
  }
  return QLineEdit::event(event);
}

void RecorderCocoa::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (isVisible()) startRecording();
}

void RecorderCocoa::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // Decided a turn later: when the focus goes straight to another recorder, that one is active by then
  // and this one's end leaves the hot keys paused and announces nothing.
  QPointer<RecorderCocoa> self(this);
  environment().mainExecutor->post([self] {
    if (self && !self->hasFocus()) self->endRecording();
  });
}

void RecorderCocoa::paintEvent(QPaintEvent* event) {
  QLineEdit::paintEvent(event);
  // A centred line edit hides its placeholder while it has the focus, which is exactly while this one
  // records: the placeholder that asks for a shortcut is painted here instead.
  if (!hasFocus() || !text().isEmpty() || placeholderText().isEmpty()) return;
  QStyleOptionFrame option;
  initStyleOption(&option);
  const QRect area =
      style()->subElementRect(QStyle::SE_LineEditContents, &option, this).marginsRemoved(textMargins());
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::PlaceholderText));
  painter.drawText(area, Qt::AlignCenter,
                   fontMetrics().elidedText(placeholderText(), Qt::ElideRight, area.width()));
}

void RecorderCocoa::startRecording() {
  setPlaceholderText(localized(texts::pressShortcut));
  updateClearButton();
  activeRecorderSlot() = this;
  setPaused(true);
  postActiveStatus(true);
  QPointer<RecorderCocoa> self(this);
  eventMonitor_ = std::make_unique<LocalEventMonitor>(kRecordingEvents, [self](QEvent* event) -> QEvent* {
    return self ? self->handleMonitoredEvent(event) : event;
  });
  eventMonitor_->start();
}

void RecorderCocoa::endRecording() {
  eventMonitor_.reset();
  setPlaceholderText(localized(texts::recordShortcut));
  updateClearButton();
  if (activeRecorderSlot() != this) return;
  activeRecorderSlot() = nullptr;
  setPaused(false);
  postActiveStatus(false);
}

void RecorderCocoa::clearButtonClicked() {
  QPointer<RecorderCocoa> self(this);
  setText({});
  storeCleared();
  if (onChange_) {
    const auto onChange = onChange_;
    onChange(std::nullopt);
    if (!self) return;
  }
  updateClearButton();
  // Cleared, the field goes on recording.
  setFocus(Qt::OtherFocusReason);
}

void RecorderCocoa::storeCleared() {
  if (storageMode_ == StorageMode::binding) {
    bindingShortcut_.reset();
  } else {
    GlobalShortcuts::setShortcut(std::nullopt, shortcutName_);
  }
}

QEvent* RecorderCocoa::handleMonitoredEvent(QEvent* event) {
  // The recording ends a turn after the focus goes; meanwhile what is typed or clicked belongs to where
  // the focus went (another recorder, whose monitor comes after this one, among them).
  if (!hasFocus()) return event;
  switch (event->type()) {
    case QEvent::MouseButtonRelease: {
      const QPointF point = mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition());
      const QRectF reach = QRectF(rect()).adjusted(-kClickSlack, -kClickSlack, kClickSlack, kClickSlack);
      if (!reach.contains(point)) clearFocus();
      return event;
    }
    case QEvent::KeyPress:
      return handleKeyDown(*static_cast<QKeyEvent*>(event));
    default:
      return nullptr;
  }
}

QEvent* RecorderCocoa::handleKeyDown(QKeyEvent& event) {
  const auto* layout = environment().keyboardLayout;
  const auto keyEvent = layout != nullptr ? KeyEvent::fromQKeyEvent(event, *layout) : std::nullopt;
  const std::optional<int> keyCode = keyEvent ? std::optional<int>(keyEvent->keyCode) : std::nullopt;
  switch (recordingKeyAction(event.key(), keyCode, ModifierFlags::fromQt(event.modifiers()))) {
    case RecordingKeyAction::ignore:
      return nullptr;
    case RecordingKeyAction::moveFocus:
      // Qt moves the focus on, and the recording ends with it.
      return &event;
    case RecordingKeyAction::clear:
      if (cancelButton_->isVisible()) cancelButton_->trigger();
      return nullptr;
    case RecordingKeyAction::stopRecording:
      clearFocus();
      return nullptr;
    case RecordingKeyAction::refuse:
      beep();
      return nullptr;
    case RecordingKeyAction::record:
      break;
  }

  const auto shortcut = keyEvent ? Shortcut::fromEvent(*keyEvent) : std::nullopt;
  if (!shortcut) {
    beep();
    return nullptr;
  }
  // Alerts, the validation and onChange may end the field.
  QPointer<RecorderCocoa> self(this);

  // Pressing the current shortcut again is no conflict with whatever menu item it may share.
  if (shortcut != this->shortcut()) {
    const Menu menu = environment().mainMenu();
    if (const auto* item = shortcut->menuItemWithMatchingShortcut(menu)) {
      const auto title = localizedString(texts::keyboardShortcutUsedByMenuItem, item->title);
      if (!handleConflict(conflictPolicy_.menuItem, title, {}) || !self) return nullptr;
    }
  }

  // Names that share a combination share its hot key and all fire on it, so one of the two actions could
  // no longer be reached from the keyboard. Warning would not help: using it anyway is that very fault.
  if (storageMode_ == StorageMode::name && registry::isUsedByAnotherName(*shortcut, shortcutName_)) {
    showAlert(localizedString(texts::keyboardShortcutUsedByOtherShortcut, shortcut->presentableDescription()),
              localizedString(texts::keyboardShortcutChooseAnother), {});
    return nullptr;
  }

  if (environment().optionShortcutsDisallowed && conflictPolicy_.disallowed != ConflictBehavior::allow &&
      (shortcut->modifiers().rawValue() & kOptionRuleModifiers) == ModifierFlags::option.rawValue()) {
    // Warn would be no help here: the desktop refuses the combination whatever the user answers.
    showAlert(localizedString(texts::keyboardShortcutDisallowed), {}, {});
    return nullptr;
  }

  if (shortcut->isTakenBySystem()) {
    if (!handleConflict(conflictPolicy_.systemShortcut, localizedString(texts::keyboardShortcutUsedBySystem),
                        localizedString(texts::keyboardShortcutsCanBeChanged)) ||
        !self) {
      return nullptr;
    }
    // Accepted anyway: on X11 the desktop's shortcuts are grabs of other programs, and a combination
    // another program holds never fires here. Stored all the same, it would pass for working while the
    // old shortcut, which did work, is gone.
    if (!registry::canRegister(*shortcut)) {
      showAlert(
          localizedString(texts::keyboardShortcutHeldByOtherProgram, shortcut->presentableDescription()),
          localizedString(texts::keyboardShortcutKeptPrevious), {});
      return nullptr;
    }
  }

  if (validateShortcut_) {
    const auto validate = validateShortcut_;
    const auto validation = validate(*shortcut);
    if (!self) return nullptr;
    if (!validation.isAllowed()) {
      showAlert(validation.reason(), {}, {});
      return nullptr;
    }
  }

  setText(qt(shortcut->presentableDescription()));
  updateClearButton();
  if (storageMode_ == StorageMode::binding) {
    bindingShortcut_ = shortcut;
  } else {
    // Also moves the name's hot key to the new shortcut and announces the change.
    userDefaultsSet(shortcutName_, *shortcut);
  }
  if (onChange_) {
    const auto onChange = onChange_;
    onChange(shortcut);
    if (!self) return nullptr;
  }
  clearFocus();
  return nullptr;
}

bool RecorderCocoa::handleConflict(ConflictBehavior behavior, const std::string& title,
                                   const std::string& message) {
  switch (behavior) {
    case ConflictBehavior::block:
      showAlert(title, message, {});
      return false;
    case ConflictBehavior::allow:
      return true;
    case ConflictBehavior::warn:
      return showAlert(title, message,
                       {localizedString(texts::ok), localizedString(texts::forceUseShortcut)}) ==
             platform::AlertPresenter::kSecondButtonReturn;
  }
  return false;
}

platform::AlertPresenter::ModalResponse RecorderCocoa::showAlert(const std::string& title,
                                                                 const std::string& message,
                                                                 std::vector<std::string> buttonTitles) {
  // The alert runs its own event loop: the recording monitor must not see the alert's keys, and the hot
  // keys are not paused meanwhile.
  clearFocus();
  endRecording();
  QPointer<RecorderCocoa> self(this);
  QWidget* const parentWindow = window();
  platform::Alert alert{title, message, std::move(buttonTitles), platform::Alert::Style::warning};
  auto* presenter = environment().alertPresenter;
  // With nobody to ask, the answer is the first button's: a conflict refuses the shortcut.
  const auto response = presenter != nullptr ? presenter->runModal(alert, parentWindow)
                                             : platform::AlertPresenter::kFirstButtonReturn;
  if (self) {
    // Without a window manager nobody hands the activation back to the window once the alert is gone,
    // and an inactive window's field would never record again.
    self->activateWindow();
    self->setFocus(Qt::OtherFocusReason);
  }
  return response;
}

void RecorderCocoa::beep() {
  if (auto* sound = environment().systemBeep) sound->beep();
}

}  // namespace GlobalShortcuts
