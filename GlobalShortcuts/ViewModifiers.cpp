#include "GlobalShortcuts/ViewModifiers.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QKeySequence>
#include <QWidget>
#include <optional>
#include <stdexcept>
#include <utility>

#include "GlobalShortcuts/Environment.h"
#include "GlobalShortcuts/EventStreams.h"
#include "GlobalShortcuts/NotificationUserInfo.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/ShortcutStorage.h"
#include "platform/NotificationCenter.h"
#include "platform/Task.h"

namespace GlobalShortcuts {
namespace {

// Reads the name's events for `perform` while its parent, the owner, is shown (or, for an owner that is
// not a widget, for as long as the owner lives).
class ShortcutEventListener final : public QObject {
 public:
  ShortcutEventListener(QObject* owner, Name name, std::optional<EventType> only,
                        std::function<void(EventType)> perform)
      : QObject(owner), name_(std::move(name)), only_(only), perform_(std::move(perform)) {
    widget_ = qobject_cast<QWidget*>(owner);
    if (widget_ != nullptr) owner->installEventFilter(this);
    update();
  }
  ~ShortcutEventListener() override { stop(); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == widget_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) update();
    return false;
  }

 private:
  void update() {
    // A minimised window's widgets get hide events but stay visible: they keep listening.
    const bool shown = widget_ == nullptr || widget_->isVisible();
    if (shown && !stream_) {
      start();
    } else if (!shown && stream_) {
      stop();
    }
  }

  void start() {
    reader_ = platform::Task(*environment().mainExecutor);
    stream_.emplace(only_ ? events(*only_, name_) : events(name_));
    stream_->forEach(reader_, perform_);
  }

  void stop() {
    // Cancelling the reader ends the stream, which lets go of its part in the registry.
    reader_.cancel();
    stream_.reset();
  }

  const Name name_;
  const std::optional<EventType> only_;
  const std::function<void(EventType)> perform_;
  QWidget* widget_ = nullptr;
  platform::Task reader_;
  std::optional<EventStream> stream_;
};

// Keeps a control's key sequence at the name's stored shortcut, or none while a recorder records.
class LocalShortcut final : public QObject {
 public:
  LocalShortcut(QObject* control, Name name, std::function<void(const QKeySequence&)> apply)
      : QObject(control), name_(std::move(name)), apply_(std::move(apply)) {
    auto& center = *environment().notificationCenter;
    shortcutObserver_ = center.addObserver(kShortcutByNameDidChange, [this](const auto& notification) {
      const auto changed = globalShortcutsName(notification);
      if (changed && changed->rawValue() == name_.rawValue()) refresh();
    });
    recorderObserver_ = center.addObserver(kRecorderActiveStatusDidChange, [this](const auto& notification) {
      isRecorderActive_ = recorderIsActive(notification);
      refresh();
    });
    refresh();
  }

 private:
  void refresh() {
    const auto stored = isRecorderActive_ ? std::nullopt : getShortcut(name_);
    apply_(stored ? stored->toQKeySequence().value_or(QKeySequence()) : QKeySequence());
  }

  const Name name_;
  const std::function<void(const QKeySequence&)> apply_;
  bool isRecorderActive_ = false;
  // Last: they end, and with them the calls into this object, before the rest of it.
  platform::NotificationCenter::Token shortcutObserver_;
  platform::NotificationCenter::Token recorderObserver_;
};

void listen(QObject* owner, const Name& name, std::optional<EventType> only,
            std::function<void(EventType)> perform) {
  if (owner == nullptr)
    throw std::invalid_argument("GlobalShortcuts: a keyboard shortcut handler needs an owner");
  new ShortcutEventListener(owner, name, only, std::move(perform));
}

void bindLocalShortcut(QObject& control, const Name& name, std::function<void(const QKeySequence&)> apply) {
  // (Not findChildren(): these helpers have no meta-object of their own.)
  for (auto* child : control.children()) {
    if (auto* earlier = dynamic_cast<LocalShortcut*>(child)) {
      delete earlier;
      break;
    }
  }
  new LocalShortcut(&control, name, std::move(apply));
}

}  // namespace

void onGlobalKeyboardShortcut(QObject* owner, const Name& name, std::function<void(EventType)> perform) {
  listen(owner, name, std::nullopt, std::move(perform));
}

void onGlobalKeyboardShortcut(QObject* owner, const Name& name, EventType type,
                              std::function<void()> perform) {
  listen(owner, name, type, [perform = std::move(perform)](EventType) { perform(); });
}

void onKeyboardShortcut(QObject* owner, const Name& name, std::function<void(EventType)> perform) {
  onGlobalKeyboardShortcut(owner, name, std::move(perform));
}

void onKeyboardShortcut(QObject* owner, const Name& name, EventType type, std::function<void()> perform) {
  onGlobalKeyboardShortcut(owner, name, type, std::move(perform));
}

void globalKeyboardShortcut(QAbstractButton& button, const Name& name) {
  bindLocalShortcut(button, name, [&button](const QKeySequence& keys) { button.setShortcut(keys); });
}

void globalKeyboardShortcut(QAction& action, const Name& name) {
  bindLocalShortcut(action, name, [&action](const QKeySequence& keys) { action.setShortcut(keys); });
}

}  // namespace GlobalShortcuts
