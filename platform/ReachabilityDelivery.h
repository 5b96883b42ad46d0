#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ReachabilitySource.h"

namespace platform {

// The half that every ReachabilitySource backend shares: it keeps the change callback and the queue,
// hops reports onto that queue, and folds a burst of change signals into one re-read there.
//
// Thread-safe. Jobs on the queue hold the delivery's state, not its owner, so `read` must keep alive
// whatever it uses. A job looks the callback and the queue up when it runs: when the callback was removed
// or the queue unscheduled (or replaced) since the job was queued, nothing is called.
class ReachabilityDelivery {
 public:
  // `name` starts the diagnostics lines; `read` is what a re-read calls, on the queue (a source that
  // only reports needs none).
  explicit ReachabilityDelivery(std::string name, std::function<ReachabilityRead()> read = {});
  // Removes the callback and the queue: jobs still queued do nothing.
  ~ReachabilityDelivery();
  ReachabilityDelivery(const ReachabilityDelivery&) = delete;
  ReachabilityDelivery& operator=(const ReachabilityDelivery&) = delete;

  void setCallback(ReachabilitySource::Callback callback);
  ReachabilitySource::Callback callback() const;
  // Null unschedules.
  void setQueue(std::shared_ptr<SerialQueue> queue);
  bool isScheduled() const;

  // Calls the callback with `flags` on the queue; nothing while either is missing.
  void report(ReachabilityFlags flags);
  // The system says something changed: one re-read on the queue answers every call made before it
  // starts, and its flags are reported. A failed re-read is logged and reports nothing (the next change
  // reads again). Nothing while unscheduled or without `read`.
  void changed();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
