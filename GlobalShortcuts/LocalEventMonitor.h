#pragma once

#include <functional>
#include <optional>

#include "GlobalShortcuts/EventMonitorFilter.h"
#include "GlobalShortcuts/EventTypeMask.h"

class QEvent;

namespace GlobalShortcuts {

// Watches the application's own input events of the given types before they reach their widgets (see
// EventMonitorFilter for where and in which order). The callback returns the event it was given to let
// it through, or nullptr to swallow it; it must not delete the event. Not called while a menu or other
// popup is open: RunLoopLocalEventMonitor watches that time.
//
// Created stopped. start() is idempotent and returns the monitor, so that creation and start can be
// chained; stop() is idempotent; destruction stops. Main thread only.
class LocalEventMonitor {
 public:
  using Callback = std::function<QEvent*(QEvent*)>;

  LocalEventMonitor(EventTypeMask events, Callback callback);
  ~LocalEventMonitor();
  LocalEventMonitor(const LocalEventMonitor&) = delete;
  LocalEventMonitor& operator=(const LocalEventMonitor&) = delete;

  LocalEventMonitor& start();
  void stop();
  bool isStarted() const noexcept { return monitor_.has_value(); }

 private:
  const EventTypeMask events_;
  const Callback callback_;
  std::optional<EventMonitorFilter::Registration> monitor_;
};

}  // namespace GlobalShortcuts
