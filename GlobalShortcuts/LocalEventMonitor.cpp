#include "GlobalShortcuts/LocalEventMonitor.h"

namespace GlobalShortcuts {

LocalEventMonitor::LocalEventMonitor(EventTypeMask events, Callback callback)
    : events_(events), callback_(std::move(callback)) {}

LocalEventMonitor::~LocalEventMonitor() {
  stop();
}

LocalEventMonitor& LocalEventMonitor::start() {
  if (!monitor_) {
    monitor_ = EventMonitorFilter::shared().add(EventMonitorFilter::Phase::normal, events_, callback_);
  }
  return *this;
}

void LocalEventMonitor::stop() {
  if (!monitor_) return;
  EventMonitorFilter::shared().remove(*monitor_);
  monitor_.reset();
}

}  // namespace GlobalShortcuts
