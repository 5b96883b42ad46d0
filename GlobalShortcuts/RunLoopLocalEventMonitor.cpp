#include "GlobalShortcuts/RunLoopLocalEventMonitor.h"

namespace GlobalShortcuts {

RunLoopLocalEventMonitor::RunLoopLocalEventMonitor(EventTypeMask events, Callback callback)
    : events_(events), callback_(std::move(callback)) {}

RunLoopLocalEventMonitor::~RunLoopLocalEventMonitor() {
  stop();
}

RunLoopLocalEventMonitor& RunLoopLocalEventMonitor::start() {
  if (!observer_) {
    observer_ = EventMonitorFilter::shared().add(EventMonitorFilter::Phase::menuTracking, events_, callback_);
  }
  return *this;
}

void RunLoopLocalEventMonitor::stop() {
  if (!observer_) return;
  EventMonitorFilter::shared().remove(*observer_);
  observer_.reset();
}

}  // namespace GlobalShortcuts
