#include "program/DesktopEventMonitors.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "GlobalShortcuts/EventTypeMask.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/KeyEvent.h"
#include "GlobalShortcuts/KeyNames.h"
#include "GlobalShortcuts/LocalEventMonitor.h"
#include "platform/linux/desktop/QtPopupPanel.h"
#include "platform/linux/desktop/X11RawInputMonitor.h"

namespace quorvelle {

using platform::MonitoredEvent;
using platform::MonitoredEventMask;
using platform::MonitoredEventType;

namespace {

constexpr MonitoredEventType kAllTypes[] = {MonitoredEventType::leftMouseDown,
                                            MonitoredEventType::rightMouseDown, MonitoredEventType::keyDown,
                                            MonitoredEventType::scrollWheel};

std::optional<MonitoredEventType> typeOf(const QEvent& event) {
  const auto mask = GlobalShortcuts::EventTypeMask::forEvent(event).rawValue();
  for (const auto type : kAllTypes) {
    if (mask == static_cast<std::uint32_t>(type)) return type;
  }
  return std::nullopt;
}

int keyCodeOf(const QKeyEvent& event, const platform::KeyboardLayout* layout) {
  if (layout != nullptr) {
    if (const auto key = GlobalShortcuts::KeyEvent::fromQKeyEvent(event, *layout)) return key->keyCode;
  }
  switch (event.key()) {
    case Qt::Key_Escape:
      return static_cast<int>(GlobalShortcuts::Key::escape.rawValue());
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return static_cast<int>(GlobalShortcuts::Key::tab.rawValue());
    default:
      return -1;
  }
}

platform::WindowId windowOf(const QEvent& event) {
  const QWidget* window = nullptr;
  if (event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease) {
    window = QApplication::activeWindow();
  } else if (const auto* pointer = dynamic_cast<const QSinglePointEvent*>(&event)) {
    window = QApplication::topLevelAt(pointer->globalPosition().toPoint());
  }
  return window != nullptr ? platform::windowIdOf(window) : 0;
}

}  // namespace

struct DesktopEventMonitors::Local {
  GlobalShortcuts::LocalEventMonitor monitor;
};

DesktopEventMonitors::DesktopEventMonitors(platform::X11Connection* x11,
                                           const platform::KeyboardLayout* layout)
    : x11_(x11), layout_(layout) {}

DesktopEventMonitors::~DesktopEventMonitors() = default;

std::optional<DesktopEventMonitors::Token> DesktopEventMonitors::addLocalMonitor(MonitoredEventMask mask,
                                                                                 LocalHandler handler) {
  const GlobalShortcuts::EventTypeMask types(mask.rawValue());
  auto callback = [handler = std::move(handler), layout = layout_](QEvent* event) -> QEvent* {
    const auto type = typeOf(*event);
    if (!type) return event;
    MonitoredEvent monitored{*type, windowOf(*event), 0};
    if (*type == MonitoredEventType::keyDown)
      monitored.keyCode = keyCodeOf(static_cast<QKeyEvent&>(*event), layout);
    return handler(monitored) ? event : nullptr;
  };
  auto local =
      std::unique_ptr<Local>(new Local{GlobalShortcuts::LocalEventMonitor(types, std::move(callback))});
  local->monitor.start();
  const Token token = next_++;
  local_.emplace(token, std::move(local));
  return token;
}

std::optional<DesktopEventMonitors::Token> DesktopEventMonitors::addGlobalMonitor(MonitoredEventMask mask,
                                                                                  GlobalHandler handler) {
  if (x11_ == nullptr) return std::nullopt;
  if (!raw_) {
    using Press = platform::X11RawInputMonitor::Press;
    auto buttons = [this](Press press) {
      switch (press) {
        case Press::left:
          return deliverGlobal(MonitoredEventType::leftMouseDown);
        case Press::right:
          return deliverGlobal(MonitoredEventType::rightMouseDown);
        case Press::wheel:
          return deliverGlobal(MonitoredEventType::scrollWheel);
        case Press::other:
          return;
      }
    };
    auto keys = [this](xcb_keycode_t keycode) {
      const auto name = x11_->nameForKeycode(keycode);
      const auto key = name ? GlobalShortcuts::keyForXkbKeyName(*name) : std::nullopt;
      deliverGlobal(MonitoredEventType::keyDown, key ? static_cast<int>(key->rawValue()) : -1);
    };
    raw_ = platform::X11RawInputMonitor::create(*x11_, buttons, keys);
    if (!raw_) return std::nullopt;
  }
  const Token token = next_++;
  global_.emplace(token, std::make_shared<Global>(Global{mask, std::move(handler)}));
  return token;
}

void DesktopEventMonitors::deliverGlobal(MonitoredEventType type, int keyCode) {
  // A handler may remove monitors (its own too): run over a snapshot that keeps each one alive.
  std::vector<std::pair<Token, std::shared_ptr<Global>>> snapshot(global_.begin(), global_.end());
  for (const auto& [token, global] : snapshot) {
    if (!global_.contains(token) || !global->mask.contains(type)) continue;
    global->handler(MonitoredEvent{type, 0, keyCode});
  }
}

void DesktopEventMonitors::removeMonitor(Token token) {
  if (const auto it = local_.find(token); it != local_.end()) {
    // The application filter keeps a callback that is running alive by itself.
    local_.erase(it);
    return;
  }
  if (global_.erase(token) > 0 && global_.empty()) {
    // The last global handler may be the one running inside the raw monitor's own dispatch: stop
    // watching the display on a later turn, unless a new monitor came in meanwhile.
    QTimer::singleShot(0, &lifetime_, [this] {
      if (global_.empty()) raw_.reset();
    });
  }
}

}  // namespace quorvelle
