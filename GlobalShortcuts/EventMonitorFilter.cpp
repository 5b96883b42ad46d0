#include "GlobalShortcuts/EventMonitorFilter.h"

#include <QApplication>
#include <QEvent>
#include <algorithm>

namespace GlobalShortcuts {

EventMonitorFilter& EventMonitorFilter::shared() {
  // Never destroyed: monitors may be released during static destruction, after the application is gone.
  static auto* filter = new EventMonitorFilter;
  return *filter;
}

EventMonitorFilter::Registration EventMonitorFilter::add(Phase phase, EventTypeMask events,
                                                         Callback callback) {
  const Registration id = ++lastId_;
  entries_.push_back(std::make_shared<Entry>(Entry{id, phase, events, std::move(callback)}));
  installIfNeeded();
  return id;
}

void EventMonitorFilter::remove(Registration registration) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const auto& entry) { return entry->id == registration; });
  if (it == entries_.end()) return;
  (*it)->active = false;
  entries_.erase(it);
  if (entries_.empty() && installedOn_) {
    installedOn_->removeEventFilter(this);
    installedOn_ = nullptr;
  }
}

void EventMonitorFilter::installIfNeeded() {
  auto* app = QCoreApplication::instance();
  if (app == nullptr || installedOn_ == app) return;
  app->installEventFilter(this);
  installedOn_ = app;
}

bool EventMonitorFilter::eventFilter(QObject* watched, QEvent* event) {
  if (entries_.empty() || !watched->isWindowType()) return false;
  const EventTypeMask type = EventTypeMask::forEvent(*event);
  if (type.isEmpty()) return false;
  const Phase phase = QApplication::activePopupWidget() != nullptr ? Phase::menuTracking : Phase::normal;

  // A callback may start or stop monitors (its own included): work on a snapshot, which also keeps a
  // running callback alive when its monitor is destroyed from inside it.
  const auto snapshot = entries_;
  for (const auto& entry : snapshot) {
    if (!entry->active || entry->phase != phase || !entry->events.intersects(type)) continue;
    if (entry->callback(event) == nullptr) {
      event->accept();
      return true;
    }
  }
  return false;
}

}  // namespace GlobalShortcuts
