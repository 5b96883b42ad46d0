#pragma once

#include <functional>
#include <optional>

#include "GlobalShortcuts/EventMonitorFilter.h"
#include "GlobalShortcuts/EventTypeMask.h"

class QEvent;

namespace GlobalShortcuts {

// Watches the application's input events of the given types while a menu is being tracked, when system
// hot keys are not delivered and LocalEventMonitor is not called. The hot-key center matches key events
// against its hot keys with it while a menu is open.
//
// There is no separate menu-tracking run loop under Qt: an open menu's events pass through the same
// application event filter as all others (EventMonitorFilter), and "tracking" means a popup is open.
// The events a callback lets through simply continue to their receivers, in their original order; the
// ones it swallows (nullptr) are gone. The callback must not delete the event.
//
// Created stopped; start() and stop() are idempotent; destruction stops. Main thread only.
class RunLoopLocalEventMonitor {
 public:
  using Callback = std::function<QEvent*(QEvent*)>;

  RunLoopLocalEventMonitor(EventTypeMask events, Callback callback);
  ~RunLoopLocalEventMonitor();
  RunLoopLocalEventMonitor(const RunLoopLocalEventMonitor&) = delete;
  RunLoopLocalEventMonitor& operator=(const RunLoopLocalEventMonitor&) = delete;

  RunLoopLocalEventMonitor& start();
  void stop();
  bool isStarted() const noexcept { return observer_.has_value(); }

 private:
  const EventTypeMask events_;
  const Callback callback_;
  std::optional<EventMonitorFilter::Registration> observer_;
};

}  // namespace GlobalShortcuts
