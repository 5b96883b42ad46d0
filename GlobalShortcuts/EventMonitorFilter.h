#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "GlobalShortcuts/EventTypeMask.h"

class QCoreApplication;
class QEvent;

namespace GlobalShortcuts {

// The one application event filter behind LocalEventMonitor and RunLoopLocalEventMonitor. It is
// installed on the application while at least one monitor runs, and hands each input event to the
// running monitors whose mask holds its type, in the order in which they were started. The first
// monitor that swallows an event ends the pass: later monitors and the event's receiver never see it.
//
// Events are taken where they enter a window (a QWindow receives them, before any widget does), so each
// input event is seen exactly once even when Qt later propagates it from widget to parent widget. Events
// sent straight to a widget are not watched. Key presses that the application's own shortcuts (QShortcut,
// QAction) consume never reach a window; a widget that must see them accepts QEvent::ShortcutOverride.
//
// Menu tracking: while a popup (an open QMenu, a combo box list) is up, only the menu-tracking monitors
// (RunLoopLocalEventMonitor) see events; otherwise only the normal ones (LocalEventMonitor). Qt has no
// separate run-loop mode for menus (a menu runs in the same event loop, or a nested one that passes
// through the same filter), so the popup state stands for it; one event never reaches both kinds.
//
// Main thread only.
class EventMonitorFilter final : public QObject {
 public:
  using Callback = std::function<QEvent*(QEvent*)>;
  using Registration = std::uint64_t;
  enum class Phase { normal, menuTracking };

  static EventMonitorFilter& shared();

  Registration add(Phase phase, EventTypeMask events, Callback callback);
  // Unknown or already removed registrations are ignored. A monitor removed while an event is being
  // handed out is not called for it any more.
  void remove(Registration registration);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  EventMonitorFilter() = default;

  struct Entry {
    Registration id;
    Phase phase;
    EventTypeMask events;
    Callback callback;
    bool active = true;
  };

  void installIfNeeded();

  std::vector<std::shared_ptr<Entry>> entries_;
  Registration lastId_ = 0;
  QPointer<QCoreApplication> installedOn_;
};

}  // namespace GlobalShortcuts
